// The X11 clipboard monitor against real owners on a private X server: nimbrel-owner (healthy, slow, hung,
// answering only the types), xclip, a plain xcb client and this process's own QClipboard.

#include "platform/linux/X11ClipboardMonitor.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

using nimbrel::ClipboardOffer;
using nimbrel::native::X11ClipboardMonitor;
using Status = ClipboardOffer::Status;
using Values = std::vector<std::pair<QString, QByteArray>>;

namespace {

struct Wanted {
    QString type;
    qint64 cap;
};

struct Seen {
    bool own = false;
    nimbrel::Selection selection = nimbrel::Selection::clipboard;
    ClipboardOffer::TypeList types;
    std::vector<ClipboardOffer::Read> reads;
    qint64 ms = 0;  // from the handler's start to its last answer
};

const QString utf8 = QStringLiteral("UTF8_STRING");
const QString png = QStringLiteral("image/png");
const QString plain = QStringLiteral("text/plain");
constexpr qint64 big = 64 * 1024 * 1024;

class X11ClipboardMonitorTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        hold(false);
        m_monitor.stop();
        for (const auto& process : m_processes) {
            process->kill();
            process->waitForFinished();
        }
    }

    template <typename F>
    auto locked(F f)
    {
        std::lock_guard lock(m_mutex);
        return f();
    }

    // Watches anew, recording every change: its types, then each of `wanted` read in turn.
    void watch(int deadlineMs, std::vector<Wanted> wanted = {{utf8, big}})
    {
        m_monitor.stop();
        m_seen.clear();
        m_entered = 0;
        m_emptied = 0;
        m_monitor.setEmptiedHandler([this] { locked([&] { ++m_emptied; }); });
        const auto error = m_monitor.start(
            [this, wanted](ClipboardOffer& offer) {
                QElapsedTimer timer;
                timer.start();
                {
                    std::unique_lock lock(m_mutex);
                    ++m_entered;
                    m_released.wait(lock, [&] { return !m_held; });
                }
                Seen seen{offer.isOwnContent(), offer.selection(), offer.types(), {}, 0};
                for (const Wanted& w : wanted)
                    seen.reads.push_back(offer.read(w.type, w.cap));
                seen.ms = timer.elapsed();
                locked([&] { m_seen.push_back(seen); });
            },
            deadlineMs);
        ASSERT_EQ(error, std::nullopt);
    }

    // While held, the handler waits as soon as it is called, before anything is read.
    void hold(bool held)
    {
        locked([&] { m_held = held; });
        m_released.notify_all();
    }
    bool waitForEntered(int n)
    {
        return QTest::qWaitFor([&] { return locked([&] { return m_entered; }) >= n; }, 20'000);
    }
    size_t seenCount()
    {
        return locked([&] { return m_seen.size(); });
    }
    Seen seen(size_t i)
    {
        return locked([&] { return m_seen.at(i); });
    }
    // Qt's events go on meanwhile, so this process's own clipboard answers.
    bool waitForSeen(size_t count)
    {
        return QTest::qWaitFor([&] { return seenCount() >= count; }, 60'000);
    }
    int emptied()
    {
        return locked([&] { return m_emptied; });
    }

    QString file(const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(QString::number(m_files++));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        return path;
    }
    QProcess* run(const QString& program, const QStringList& arguments)
    {
        m_processes.push_back(std::make_unique<QProcess>());
        m_processes.back()->start(program, arguments);
        return m_processes.back().get();
    }
    // nimbrel-owner, once it owns the clipboard.
    void own(const QString& mode, const Values& values)
    {
        QStringList arguments{mode};
        for (const auto& [type, bytes] : values)
            arguments << type + QLatin1Char('=') + file(bytes);
        QProcess* owner = run(qEnvironmentVariable("NIMBREL_OWNER"), arguments);
        QByteArray out;
        while (!out.contains("ready\n") && owner->waitForReadyRead(20'000))
            out += owner->readAllStandardOutput();
        ASSERT_TRUE(out.contains("ready\n")) << owner->readAllStandardError().constData();
    }
    // xclip serving `text` as UTF8_STRING (in the foreground, so it is ended with the test).
    void xclip(const QByteArray& text, const char* selection = "clipboard")
    {
        run(QStringLiteral("xclip"), {"-quiet", "-selection", selection, "-t", "UTF8_STRING", "-i", file(text)});
    }

    X11ClipboardMonitor m_monitor;
    int m_emptied = 0;
    std::mutex m_mutex;
    std::vector<Seen> m_seen;
    int m_entered = 0;
    bool m_held = false;
    std::condition_variable m_released;
    QTemporaryDir m_dir;
    int m_files = 0;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

// Whatever the owner does, the change takes at most the deadline, and the next change is read.
TEST_F(X11ClipboardMonitorTest, OwnersHealthySlowAndHung)
{
    QByteArray image(5 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(image.data()), image.size() / 4);
    const QByteArray text = QStringLiteral("Grüße, 世界").toUtf8();
    struct Row {
        const char* name;
        QString mode;
        int deadlineMs;
        Values offered;
        std::vector<Wanted> reads;
        Status types;
        std::vector<Status> expected;
    };
    const auto s = [](const char* mode) { return QString::fromLatin1(mode); };
    // clang-format off
    const std::vector<Row> rows = {
        {"text, and an image in INCR chunks", s("serve"), 30'000, {{utf8, text}, {png, image}},
         {{png, big}, {QStringLiteral("text/html"), big}, {utf8, big}}, Status::ok, {Status::ok, Status::missing, Status::ok}},
        {"over the cap, whole or in chunks; an abandoned transfer leaves later ones intact", s("serve"), 30'000,
         {{plain, QByteArray(1000, 'x')}, {png, image}},
         {{plain, 100}, {png, 1024 * 1024}, {plain, 1000}, {png, big}, {utf8, big}}, Status::ok,
         {Status::tooLarge, Status::tooLarge, Status::ok, Status::ok, Status::missing}},
        {"slow, within the deadline", s("slow:300"), 5000, {{utf8, text}}, {{utf8, big}}, Status::ok, {Status::ok}},
        {"slow, past the deadline", s("slow:2500"), 1500, {{utf8, text}}, {{utf8, big}}, Status::timedOut, {Status::timedOut}},
        {"types only, data never", s("targets-only"), 1500, {{utf8, text}}, {{utf8, big}}, Status::ok, {Status::timedOut}},
        {"frozen", s("frozen"), 1500, {{utf8, text}}, {{utf8, big}}, Status::timedOut, {Status::timedOut}},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        watch(row.deadlineMs, row.reads);
        own(row.mode, row.offered);
        ASSERT_TRUE(waitForSeen(1));
        const Seen change = seen(0);
        EXPECT_FALSE(change.own);
        ASSERT_EQ(change.types.status, row.types);
        QStringList offered;
        for (const auto& [type, bytes] : row.offered)
            offered << type;
        if (row.types == Status::ok) {
            EXPECT_EQ(change.types.types, offered);  // TARGETS and TIMESTAMP left out
        }
        ASSERT_EQ(change.reads.size(), row.expected.size());
        for (size_t i = 0; i < row.expected.size(); ++i) {
            EXPECT_EQ(change.reads[i].status, row.expected[i]) << "read " << i;
            QByteArray expected;
            for (const auto& [type, bytes] : row.offered)
                expected = type == row.reads[i].type && row.expected[i] == Status::ok ? bytes : expected;
            EXPECT_TRUE(change.reads[i].bytes == expected) << "read " << i << ": " << change.reads[i].bytes.size();
        }
        EXPECT_LE(change.ms, row.deadlineMs + 1000);
        xclip("after " + QByteArray(row.name));
        ASSERT_TRUE(waitForSeen(2));
        EXPECT_EQ(seen(1).reads.back().status, Status::ok);
        EXPECT_EQ(seen(1).reads.back().bytes, "after " + QByteArray(row.name));
    }
}

// A newer change, or stop(), ends a read of a frozen owner at once.
TEST_F(X11ClipboardMonitorTest, ANewerChangeOrStopAbandonsARead)
{
    watch(60'000);
    own(QStringLiteral("frozen"), {{utf8, "never"}});
    ASSERT_TRUE(waitForEntered(1));
    xclip("newer");
    ASSERT_TRUE(waitForSeen(2));
    EXPECT_EQ(seen(0).types.status, Status::superseded);
    EXPECT_EQ(seen(0).reads.at(0).status, Status::superseded);
    EXPECT_EQ(seen(1).reads.at(0).bytes, "newer");

    own(QStringLiteral("frozen"), {{utf8, "never"}});
    ASSERT_TRUE(waitForEntered(3));
    QElapsedTimer timer;
    timer.start();
    m_monitor.stop();
    EXPECT_LT(timer.elapsed(), 300);
    ASSERT_EQ(seenCount(), 3u);
    EXPECT_EQ(seen(2).types.status, Status::superseded);
}

TEST_F(X11ClipboardMonitorTest, OfChangesQueuedMeanwhileOnlyTheNewestIsRead)
{
    hold(true);
    watch(30'000);
    own(QStringLiteral("serve"), {{utf8, "first"}});
    ASSERT_TRUE(waitForEntered(1));
    // Each owner has the clipboard when it says so: its change is on its way to the monitor by then.
    own(QStringLiteral("serve"), {{utf8, "second"}});
    own(QStringLiteral("serve"), {{utf8, "third"}});
    hold(false);
    ASSERT_TRUE(waitForSeen(2));
    xclip("fourth");
    ASSERT_TRUE(waitForSeen(3));
    EXPECT_EQ(seen(0).types.status, Status::superseded);
    EXPECT_EQ(seen(1).reads.at(0).bytes, "third");
    EXPECT_EQ(seen(2).reads.at(0).bytes, "fourth");
}

TEST_F(X11ClipboardMonitorTest, ChangesInQuickSuccessionAllComeInOrder)
{
    watch(30'000);
    QElapsedTimer pace;
    for (int i = 0; i < 30; ++i) {
        // 150 ms apart, and each only after the one before was handed over, so none is legitimately skipped.
        ASSERT_TRUE(QTest::qWaitFor([&] { return seenCount() >= size_t(i); }, 60'000)) << i;
        if (i > 0 && pace.elapsed() < 150)
            QTest::qWait(static_cast<int>(150 - pace.elapsed()));
        pace.start();
        xclip("change " + QByteArray::number(i));
    }
    ASSERT_TRUE(waitForSeen(30));
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(seen(i).reads.at(0).bytes, "change " + QByteArray::number(i));
}

TEST_F(X11ClipboardMonitorTest, OwnContentIsRecognized)
{
    watch(30'000);
    // Qt takes the clipboard at the last server time it saw: a window of its own brings it up to date, past
    // the owners of the tests before.
    QWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QGuiApplication::clipboard()->setText(QStringLiteral("mine"));
    ASSERT_TRUE(waitForSeen(1));
    EXPECT_TRUE(seen(0).own);
    EXPECT_TRUE(seen(0).types.types.contains(utf8));
    EXPECT_FALSE(seen(0).types.types.contains(QStringLiteral("TARGETS")));
    EXPECT_EQ(seen(0).reads.at(0).bytes, "mine");
}

// No display is an error at the start; a server gone ends watching with one line.
TEST_F(X11ClipboardMonitorTest, ADisplayMissingOrGoneIsSaid)
{
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    const auto error = m_monitor.start([](ClipboardOffer&) {}, 1000);
    qputenv("DISPLAY", display);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->contains(QStringLiteral("no X11 display"))) << error->toStdString();

    QProcess server;
    server.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-nolisten", "tcp"});
    QByteArray number;
    while (!number.contains('\n') && server.waitForReadyRead(20'000))
        number += server.readAllStandardOutput();
    ASSERT_TRUE(number.contains('\n'));
    QStringList lines;
    X11ClipboardMonitor monitor([&](const QString& line) { locked([&] { lines << line; }); });
    qputenv("DISPLAY", ":" + number.trimmed());
    const auto started = monitor.start([](ClipboardOffer&) {}, 1000);
    qputenv("DISPLAY", display);
    ASSERT_EQ(started, std::nullopt);
    server.kill();
    server.waitForFinished();
    ASSERT_TRUE(QTest::qWaitFor([&] { return locked([&] { return !lines.isEmpty(); }); }, 20'000));
    monitor.stop();
    EXPECT_EQ(lines.size(), 1);
}

// A plain X client of the test's own, to own selections and ask the clipboard manager.
struct Client {
    Client() : c(xcb_connect(nullptr, nullptr)), root(xcb_setup_roots_iterator(xcb_get_setup(c)).data->root) {}
    ~Client() { xcb_disconnect(c); }

    xcb_atom_t atom(const char* name)
    {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr), &std::free);
        return reply ? reply->atom : XCB_ATOM_NONE;
    }
    xcb_window_t window()
    {
        const xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_flush(c);
        return w;
    }
    xcb_window_t owner(xcb_atom_t selection)
    {
        std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr), &std::free);
        return reply ? reply->owner : XCB_WINDOW_NONE;
    }
    // Returns once the server has dealt with everything sent before, so the events it caused are out.
    void sync() { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }
    void setOwner(xcb_window_t w, xcb_atom_t selection)
    {
        xcb_set_selection_owner(c, w, selection, XCB_CURRENT_TIME);
        xcb_flush(c);
    }
    // The property the answer names (None for a refusal), or nullopt when no answer came.
    std::optional<xcb_atom_t> convert(xcb_window_t w, xcb_atom_t selection, xcb_atom_t target, xcb_atom_t property)
    {
        xcb_convert_selection(c, w, selection, target, property, XCB_CURRENT_TIME);
        xcb_flush(c);
        std::optional<xcb_atom_t> answer;
        QTest::qWaitFor(
            [&] {
                while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
                    if ((event->response_type & 0x7f) == XCB_SELECTION_NOTIFY)
                        answer = reinterpret_cast<xcb_selection_notify_event_t*>(event)->property;
                    std::free(event);
                }
                return answer.has_value();
            },
            10'000);
        return answer;
    }

    xcb_connection_t* c;
    xcb_window_t root;
};

TEST_F(X11ClipboardMonitorTest, AnOwnerGoneIsToldOnlyWhenItsChangeWasHandedOver)
{
    Client client;
    const xcb_atom_t clipboard = client.atom("CLIPBOARD");
    watch(300);
    const xcb_window_t first = client.window();
    client.setOwner(first, clipboard);
    ASSERT_TRUE(waitForSeen(1));
    // Cleared on purpose: respected, nothing is said.
    client.setOwner(XCB_WINDOW_NONE, clipboard);
    client.setOwner(first, clipboard);
    ASSERT_TRUE(waitForSeen(2));
    EXPECT_EQ(emptied(), 0);
    // Its window destroyed: the contents are lost with it.
    xcb_destroy_window(client.c, first);
    xcb_flush(client.c);
    ASSERT_TRUE(QTest::qWaitFor([&] { return emptied() == 1; }, 10'000));

    // An owner gone before its change could be read lost nothing that was handed over.
    hold(true);
    xclip("read while held");
    ASSERT_TRUE(waitForEntered(3));
    const xcb_window_t second = client.window();
    client.setOwner(second, clipboard);
    xcb_destroy_window(client.c, second);
    client.sync();
    hold(false);
    ASSERT_TRUE(waitForSeen(3));
    xclip("sentinel");
    ASSERT_TRUE(waitForSeen(4));
    EXPECT_EQ(seen(3).reads.at(0).bytes, "sentinel");
    EXPECT_EQ(emptied(), 1);
}

TEST_F(X11ClipboardMonitorTest, ExitingApplicationsAreAnsweredAsClipboardManager)
{
    Client client;
    const xcb_atom_t manager = client.atom("CLIPBOARD_MANAGER");
    const xcb_atom_t property = client.atom("ANSWER");
    watch(1000);
    ASSERT_NE(client.owner(manager), XCB_WINDOW_NONE);
    xclip("saved");
    ASSERT_TRUE(waitForSeen(1));
    const xcb_window_t w = client.window();
    EXPECT_EQ(client.convert(w, manager, client.atom("SAVE_TARGETS"), property), property);
    EXPECT_EQ(client.convert(w, manager, client.atom("TARGETS"), property), property);
    EXPECT_EQ(client.convert(w, manager, client.atom("UTF8_STRING"), property), XCB_ATOM_NONE);
    m_monitor.stop();
    EXPECT_EQ(client.owner(manager), XCB_WINDOW_NONE) << "given up with watching";

    // Another clipboard manager is left alone.
    const xcb_window_t other = client.window();
    client.setOwner(other, manager);
    watch(1000);
    EXPECT_EQ(client.owner(manager), other);
}

TEST_F(X11ClipboardMonitorTest, APrimarySelectionIsReadOnceSettledAndOnlyWhenWatched)
{
    watch(1000);
    xclip("not watched", "primary");
    xclip("the clipboard");
    ASSERT_TRUE(waitForSeen(1));
    EXPECT_EQ(seen(0).selection, nimbrel::Selection::clipboard);

    m_monitor.watchPrimary(true);
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {"mousedown", "1"}), 0);
    xclip("dragged out", "primary");
    // Held for well past the settling time: nothing is read while the button is down.
    QTest::qWait(800);
    EXPECT_EQ(seenCount(), 1u);
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {"mouseup", "1"}), 0);
    ASSERT_TRUE(waitForSeen(2));
    EXPECT_EQ(seen(1).selection, nimbrel::Selection::primary);
    EXPECT_EQ(seen(1).reads.at(0).bytes, "dragged out");

    m_monitor.watchPrimary(false);
    xclip("after", "primary");
    xclip("clipboard again");
    ASSERT_TRUE(waitForSeen(3));
    EXPECT_EQ(seen(2).selection, nimbrel::Selection::clipboard);
}

}  // namespace
