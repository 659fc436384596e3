// The Wayland clipboard monitor against real copies (wl-copy) on a headless sway of its own
// (tests/support/private-sway), while Nimbrel's side has no window and no focus at all.

#include "platform/linux/WaylandClipboardMonitor.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
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
    Status status = Status::missing;
    QByteArray bytes;
};

// Starts the monitor and keeps what each change offered and what reading `type` gave.
class Watch {
public:
    explicit Watch(QString type, qint64 cap = 1 << 20)
    {
        monitor.setEmptiedHandler([this] {
            const std::lock_guard lock(m_mutex);
            ++emptied;
            m_changed.notify_all();
        });
        const auto error = monitor.start(
            [this, type, cap](ClipboardOffer& offer) {
                Seen seen;
                const auto listed = offer.types();
                seen.types = listed.types;
                const auto read = offer.read(type, cap);
                seen.status = read.status;
                seen.bytes = read.bytes;
                const std::lock_guard lock(m_mutex);
                changes.push_back(seen);
                m_changed.notify_all();
            },
            2000);
        EXPECT_FALSE(error.has_value()) << error.value_or(QString()).toStdString();
    }

    // Waits until `count` changes (or emptyings) have come; false after five seconds.
    bool waitForChanges(size_t count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(5), [&] { return changes.size() >= count; });
    }
    bool waitForEmptied(int count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(5), [&] { return emptied >= count; });
    }
    std::vector<Seen> seen()
    {
        const std::lock_guard lock(m_mutex);
        return changes;
    }

    native::WaylandClipboardMonitor monitor;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Seen> changes;
    int emptied = 0;
};

// Copies as a Wayland application does: wl-copy serves the bytes until another copy replaces them.
void copy(const QString& type, const QByteArray& bytes)
{
    QProcess wlCopy;
    wlCopy.start(QStringLiteral("wl-copy"), {QStringLiteral("--type"), type});
    ASSERT_TRUE(wlCopy.waitForStarted(5000));
    wlCopy.write(bytes);
    wlCopy.closeWriteChannel();
    // It forks a server and returns once the clipboard is its own.
    ASSERT_TRUE(wlCopy.waitForFinished(5000));
    ASSERT_EQ(wlCopy.exitCode(), 0) << wlCopy.readAllStandardError().toStdString();
}

void skipWithoutSway()
{
    if (const char* reason = std::getenv("NIMBREL_SWAY_UNAVAILABLE"))
        GTEST_SKIP() << "no headless sway here: " << reason;
}

}  // namespace

// Every copy is handed over with its types and its bytes, up to the cap; an owner that leaves empties the
// clipboard.
TEST(WaylandClipboardMonitor, CopiesAreHandedOverAndAnOwnerThatLeavesEmptiesTheClipboard)
{
    skipWithoutSway();
    copy(QStringLiteral("text/plain"), "there before watching");
    Watch watch(QStringLiteral("text/plain"), 400'000);
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    png.append(QByteArray(300000, '\x5a'));  // more than a pipe holds at once
    const QByteArray longText(300'000, 'w');
    // clang-format off
    const std::tuple<const char*, QString, QByteArray, Status, QByteArray> cases[] = {
        {"a text", QStringLiteral("text/plain"), "hello from Wayland", Status::ok, "hello from Wayland"},
        {"an image, read as text", QStringLiteral("image/png"), png, Status::missing, {}},
        {"a secret, marked", QStringLiteral("x-kde-passwordManagerHint"), "secret", Status::missing, {}},
        {"a long text", QStringLiteral("text/plain"), longText, Status::ok, longText},
        {"a text over the cap", QStringLiteral("text/plain"), QByteArray(500'000, 'x'), Status::tooLarge, {}},
    };
    // clang-format on
    size_t count = 0;
    for (const auto& [name, type, bytes, status, read] : cases) {
        SCOPED_TRACE(name);
        copy(type, bytes);
        ASSERT_TRUE(watch.waitForChanges(++count));
        const Seen seen = watch.seen().back();
        EXPECT_TRUE(seen.types.contains(type)) << seen.types.join(u' ').toStdString();
        EXPECT_EQ(seen.status, status);
        EXPECT_EQ(seen.bytes, read);
    }
    EXPECT_EQ(watch.seen().size(), count) << "what was there before watching is not a change";

    // An owner in the foreground, then gone.
    QProcess owner;
    owner.start(QStringLiteral("wl-copy"), {u"--foreground"_s, u"--type"_s, u"text/plain"_s, u"short"_s});
    ASSERT_TRUE(owner.waitForStarted(5000));
    ASSERT_TRUE(watch.waitForChanges(++count));
    EXPECT_EQ(watch.seen().back().bytes, "short");
    owner.kill();
    owner.waitForFinished(5000);
    EXPECT_TRUE(watch.waitForEmptied(1));
}

TEST(WaylandClipboardMonitor, NimbrelsOwnWritesAreServedMarkedToOtherApplications)
{
    skipWithoutSway();
    Watch watch(QStringLiteral("text/plain"));
    native::WaylandClipboardWriter clipboardWriter(watch.monitor);
    const auto paste = [](QStringList arguments) {
        QProcess wlPaste;
        wlPaste.start(QStringLiteral("wl-paste"), arguments << QStringLiteral("--no-newline"));
        EXPECT_TRUE(wlPaste.waitForFinished(5000));
        return wlPaste.readAllStandardOutput();
    };
    struct Case {
        const char* name;
        ClipboardWriter::Selections selections;
        QByteArray primary;
    };
    const Case cases[] = {
        {"the clipboard", ClipboardWriter::Selections::clipboard, "before"},
        {"and the primary selection", ClipboardWriter::Selections::clipboardAndPrimary, "chosen again"},
    };
    size_t changes = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        copy(QStringLiteral("text/plain"), "before");
        QProcess primary;
        primary.start(QStringLiteral("wl-copy"), {QStringLiteral("--primary"), QStringLiteral("before")});
        ASSERT_TRUE(primary.waitForFinished(5000));
        ASSERT_TRUE(watch.waitForChanges(++changes));

        clipboardWriter.write({{QStringLiteral("text/plain"), "chosen again"},
                          {QStringLiteral("org.nimbrel.internal"), QByteArray(1, '\x01')}},
                         c.selections);
        ASSERT_TRUE(watch.waitForChanges(++changes));
        EXPECT_TRUE(watch.seen().back().types.contains(QStringLiteral("org.nimbrel.internal")))
            << "capture knows it as Nimbrel's own";
        EXPECT_TRUE(clipboardWriter.hasOwner());
        EXPECT_EQ(paste({QStringLiteral("--type"), QStringLiteral("text/plain")}), "chosen again");
        EXPECT_EQ(paste({QStringLiteral("--list-types")}), "text/plain\norg.nimbrel.internal\n");
        EXPECT_EQ(paste({QStringLiteral("--primary")}), c.primary);
    }
    // Replaced by another application: Nimbrel's source is let go, and the clipboard has its new owner.
    copy(QStringLiteral("text/plain"), "after");
    ASSERT_TRUE(watch.waitForChanges(++changes));
    EXPECT_EQ(watch.seen().back().bytes, "after");
    EXPECT_TRUE(clipboardWriter.hasOwner());
}
