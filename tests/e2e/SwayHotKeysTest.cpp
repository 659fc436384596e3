// sway key bindings made over IPC; the binding reaching Nimbrel through a headless sway is proven end to end
// by test_wayland.py.

#include "platform/linux/SwayHotKeys.h"
#include "support/fake/FakePlatform.h"

#include "KeyboardShortcuts/KeyCodes.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace nimbrel;
using namespace nimbrel::KeyboardShortcuts;

namespace {

constexpr int keyCodeV = 9;

// A socket that takes the connection and never answers: the class waits for replies synchronously.
TEST(SwayHotKeys, ASilentServerIsAStatusAndOneLineNeverAHang)
{
    QTemporaryDir dir;
    QLocalServer server;
    ASSERT_TRUE(server.listen(dir.filePath("ipc.sock")));
    fake::RecordingConsole console;
    QElapsedTimer clock;
    clock.start();
    {
        native::SwayHotKeys hotKeys(dir.filePath("ipc.sock"), console, 300);
        HotKeyRef ref = 0;
        EXPECT_EQ(hotKeys.registerHotKey(keyCodeV, modSuper | modShift, {1, 1}, ref), hotKeyInvalid);
        EXPECT_LT(clock.elapsed(), 1500);
    }
    ASSERT_EQ(console.lines.size(), 1) << "nothing bound, nothing to remove: "
                                       << console.lines.join(u'\n').toStdString();
    EXPECT_TRUE(console.lines.first().contains("did not answer within 300 ms")) << console.lines.first().toStdString();
}

}  // namespace
