// The Wayland clipboard monitor against real copies (wl-copy) on a headless sway of its own
// (tests/support/private-sway), while Nimbrel's side has no window and no focus at all. Copies of each kind
// becoming records, secrets and the paste into the application behind are proven end to end (test_wayland.py).

#include "platform/linux/WaylandClipboardMonitor.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <vector>

using namespace nimbrel;
using namespace Qt::StringLiterals;
using Status = ClipboardOffer::Status;

namespace {

struct Seen {
    QStringList types;
    ClipboardOffer::Read read;
};

// Starts the monitor and keeps what each change offered and what reading text/plain (up to 400 kB) gave.
struct Watch {
    Watch()
    {
        monitor.setEmptiedHandler([this] {
            std::lock_guard lock(mutex);
            ++emptied;
            changed.notify_all();
        });
        const auto error = monitor.start(
            [this](ClipboardOffer& offer) {
                Seen seen{offer.types().types, offer.read(u"text/plain"_s, 400'000)};
                std::lock_guard lock(mutex);
                changes.push_back(seen);
                changed.notify_all();
            },
            2000);
        EXPECT_FALSE(error.has_value()) << error.value_or(QString()).toStdString();
    }
    // The newest change once `count` have come (or the clipboard was emptied `count` times).
    Seen waitFor(size_t count, bool emptying = false)
    {
        std::unique_lock lock(mutex);
        EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(5),
                                     [&] { return (emptying ? size_t(emptied) : changes.size()) >= count; }));
        return changes.empty() ? Seen{} : changes.back();
    }

    native::WaylandClipboardMonitor monitor;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Seen> changes;
    int emptied = 0;
};

// wl-copy serves the bytes from a server of its own until another copy replaces them, or in the
// foreground until it is ended.
void copy(QProcess& wlCopy, const QStringList& arguments, const QByteArray& bytes = {})
{
    wlCopy.start(u"wl-copy"_s, arguments);
    ASSERT_TRUE(wlCopy.waitForStarted(5000));
    wlCopy.write(bytes);
    wlCopy.closeWriteChannel();
    ASSERT_TRUE(arguments.contains(u"--foreground"_s) || wlCopy.waitForFinished(5000));
    ASSERT_EQ(wlCopy.exitCode(), 0) << wlCopy.readAllStandardError().toStdString();
}
void copy(const QString& type, const QByteArray& bytes)
{
    QProcess wlCopy;
    copy(wlCopy, {u"--type"_s, type}, bytes);
}

}  // namespace

// Every copy is handed over with its types and its bytes, up to the cap; an owner that leaves empties the
// clipboard; Nimbrel's own writes are served, marked, to others, on the selections asked for.
TEST(WaylandClipboardMonitor, CopiesAreHandedOverAndNimbrelsOwnAreServedMarked)
{
    if (const char* reason = std::getenv("NIMBREL_SWAY_UNAVAILABLE"))
        GTEST_SKIP() << "no headless sway here: " << reason;
    copy(u"text/plain"_s, "there before watching");
    Watch watch;
    const QByteArray longText(300'000, 'w');  // more than a pipe holds at once
    const std::tuple<QString, QByteArray, Status, QByteArray> cases[] = {
        {u"text/plain"_s, longText, Status::ok, longText},
        {u"text/plain"_s, QByteArray(500'000, 'x'), Status::tooLarge, {}},
        {u"image/png"_s, "\x89PNG\r\n\x1a\n" + longText, Status::missing, {}},
    };
    size_t count = 0;
    for (const auto& [type, bytes, status, read] : cases) {
        copy(type, bytes);
        const Seen seen = watch.waitFor(++count);
        EXPECT_TRUE(seen.types.contains(type)) << seen.types.join(u' ').toStdString();
        EXPECT_EQ(seen.read.status, status);
        EXPECT_EQ(seen.read.bytes, read);
    }
    EXPECT_EQ((std::lock_guard(watch.mutex), watch.changes.size()), count) << "what was there before is no change";
    QProcess owner;
    copy(owner, {u"--foreground"_s, u"--type"_s, u"text/plain"_s, u"short"_s});
    EXPECT_EQ(watch.waitFor(++count).read.bytes, "short");
    owner.kill();
    owner.waitForFinished(5000);
    watch.waitFor(1, true);

    native::WaylandClipboardWriter writer(watch.monitor);
    const auto paste = [](QStringList arguments) {
        QProcess wlPaste;
        wlPaste.start(u"wl-paste"_s, arguments << u"--no-newline"_s);
        EXPECT_TRUE(wlPaste.waitForFinished(5000));
        return wlPaste.readAllStandardOutput();
    };
    for (const auto selections :
         {ClipboardWriter::Selections::clipboard, ClipboardWriter::Selections::clipboardAndPrimary}) {
        const bool primaryToo = selections == ClipboardWriter::Selections::clipboardAndPrimary;
        SCOPED_TRACE(primaryToo ? "and the primary selection" : "the clipboard");
        copy(u"text/plain"_s, "before");
        QProcess primary;
        copy(primary, {u"--primary"_s, u"before"_s});
        watch.waitFor(++count);
        writer.write({{u"text/plain"_s, "chosen again"}, {u"org.nimbrel.internal"_s, QByteArray(1, '\x01')}},
                     selections);
        EXPECT_TRUE(watch.waitFor(++count).types.contains(u"org.nimbrel.internal"_s)) << "capture knows it as its own";
        EXPECT_TRUE(writer.hasOwner());
        EXPECT_EQ(paste({u"--type"_s, u"text/plain"_s}), "chosen again");
        EXPECT_EQ(paste({u"--list-types"_s}), "text/plain\norg.nimbrel.internal\n");
        EXPECT_EQ(paste({u"--primary"_s}), primaryToo ? "chosen again" : "before");
    }
    // Replaced by another application: Nimbrel's source is let go, and the clipboard has its new owner.
    copy(u"text/plain"_s, "after");
    EXPECT_EQ(watch.waitFor(++count).read.bytes, "after");
    EXPECT_TRUE(writer.hasOwner());
}
