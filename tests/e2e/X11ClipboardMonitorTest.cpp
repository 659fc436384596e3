// The X11 clipboard monitor against real owners on a private X server: nimbrel-owner (healthy, slow, hung,
// answering only the types), xclip and a plain xcb client.

#include "platform/linux/X11ClipboardMonitor.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

using nimbrel::ClipboardOffer;
using nimbrel::native::X11ClipboardMonitor;
using Status = ClipboardOffer::Status;
using Values = std::vector<std::pair<QString, QByteArray>>;
using namespace Qt::StringLiterals;

namespace {

using Wanted = std::pair<QString, qint64>;  // a type to read, and its cap

struct Seen {
    bool own = false;
    nimbrel::Selection selection = nimbrel::Selection::clipboard;
    ClipboardOffer::TypeList types;
    std::vector<ClipboardOffer::Read> reads;
    qint64 ms = 0;  // from the handler's start to its last answer
};

const QString utf8 = u"UTF8_STRING"_s, png = u"image/png"_s, plain = u"text/plain"_s;
constexpr qint64 big = 64 * 1024 * 1024;

class X11ClipboardMonitorTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        hold(false);
        m_monitor.stop();
        for (const auto& process : m_processes)
            process->kill(), process->waitForFinished();
    }

    // Watches anew, recording every change: its types, then each of `wanted` read in turn.
    void watch(int deadlineMs, std::vector<Wanted> wanted = {{utf8, big}})
    {
        m_monitor.stop();
        m_seen.clear();
        m_entered = m_emptied = 0;
        m_monitor.setEmptiedHandler([this] { (std::lock_guard(m_mutex), ++m_emptied); });
        const auto error = m_monitor.start(
            [this, wanted](ClipboardOffer& offer) {
                QElapsedTimer timer;
                timer.start();
                std::unique_lock lock(m_mutex);
                ++m_entered;
                m_released.wait(lock, [&] { return !m_held; });
                lock.unlock();
                Seen seen{offer.isOwnContent(), offer.selection(), offer.types(), {}, 0};
                for (const auto& [type, cap] : wanted)
                    seen.reads.push_back(offer.read(type, cap));
                seen.ms = timer.elapsed();
                lock.lock();
                m_seen.push_back(seen);
            },
            deadlineMs);
        ASSERT_EQ(error, std::nullopt);
    }

    // While held, the handler waits as soon as it is called, before anything is read.
    void hold(bool held) { (std::lock_guard(m_mutex), m_held = held), m_released.notify_all(); }
    int entered() { return (std::lock_guard(m_mutex), m_entered); }
    size_t seenCount() { return (std::lock_guard(m_mutex), m_seen.size()); }
    Seen seen(size_t i) { return (std::lock_guard(m_mutex), m_seen.at(i)); }
    int emptied() { return (std::lock_guard(m_mutex), m_emptied); }
    // Qt's events go on meanwhile, so this process's own clipboard answers.
    bool waitForSeen(size_t count)
    {
        return QTest::qWaitFor([&] { return seenCount() >= count; }, 60'000);
    }

    QString file(const QByteArray& bytes)
    {
        QFile f(m_dir.filePath(QString::number(m_files++)));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        return f.fileName();
    }
    QProcess* run(const QString& program, const QStringList& arguments)
    {
        m_processes.push_back(std::make_unique<QProcess>());
        return m_processes.back()->start(program, arguments), m_processes.back().get();
    }
    // nimbrel-owner, once it owns the clipboard.
    void own(const QString& mode, const Values& values)
    {
        QStringList arguments{mode};
        for (const auto& [type, bytes] : values)
            arguments << type + u'=' + file(bytes);
        QProcess* owner = run(qEnvironmentVariable("NIMBREL_OWNER"), arguments);
        QByteArray out;
        while (!out.contains("ready\n") && owner->waitForReadyRead(20'000))
            out += owner->readAllStandardOutput();
        ASSERT_TRUE(out.contains("ready\n")) << owner->readAllStandardError().constData();
    }
    // xclip serving `text` as UTF8_STRING (in the foreground, so it is ended with the test).
    void xclip(const QByteArray& text, const char* selection = "clipboard")
    {
        run(u"xclip"_s, {"-quiet", "-selection", selection, "-t", "UTF8_STRING", "-i", file(text)});
    }

    X11ClipboardMonitor m_monitor;
    std::mutex m_mutex;
    std::condition_variable m_released;
    std::vector<Seen> m_seen;
    int m_entered = 0, m_emptied = 0, m_files = 0;
    bool m_held = false;
    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

// Whatever the owner does, the change takes at most the deadline, and the next change is read.
TEST_F(X11ClipboardMonitorTest, OwnersHealthySlowAndHung)
{
    QByteArray image(5 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(image.data()), image.size() / 4);
    const QByteArray text = u"Grüße, 世界"_s.toUtf8();
    // what the owner does, its deadline, what it offers, what is read, how the types and each read go
    using Row = std::tuple<const char*, QString, int, Values, std::vector<Wanted>, Status, std::vector<Status>>;
    // clang-format off
    const std::vector<Row> rows = {
        {"text, and an image in INCR chunks", u"serve"_s, 30'000, {{utf8, text}, {png, image}},
         {{png, big}, {u"text/html"_s, big}, {utf8, big}}, Status::ok, {Status::ok, Status::missing, Status::ok}},
        {"over the cap, whole or in chunks; an abandoned transfer leaves later ones intact", u"serve"_s, 30'000,
         {{plain, QByteArray(1000, 'x')}, {png, image}},
         {{plain, 100}, {png, 1024 * 1024}, {plain, 1000}, {png, big}, {utf8, big}}, Status::ok,
         {Status::tooLarge, Status::tooLarge, Status::ok, Status::ok, Status::missing}},
        {"slow, within the deadline", u"slow:300"_s, 5000, {{utf8, text}}, {{utf8, big}}, Status::ok, {Status::ok}},
        {"slow, past the deadline", u"slow:2500"_s, 1500, {{utf8, text}}, {{utf8, big}}, Status::timedOut, {Status::timedOut}},
        {"types only, data never", u"targets-only"_s, 1500, {{utf8, text}}, {{utf8, big}}, Status::ok, {Status::timedOut}},
        {"frozen", u"frozen"_s, 1500, {{utf8, text}}, {{utf8, big}}, Status::timedOut, {Status::timedOut}},
    };
    // clang-format on
    for (const auto& [name, mode, deadlineMs, offered, reads, types, expected] : rows) {
        SCOPED_TRACE(name);
        watch(deadlineMs, reads);
        own(mode, offered);
        ASSERT_TRUE(waitForSeen(1));
        const Seen change = seen(0);
        EXPECT_FALSE(change.own);
        ASSERT_EQ(change.types.status, types);
        QStringList offeredTypes;
        for (const auto& [type, bytes] : offered)
            offeredTypes << type;
        EXPECT_TRUE(types != Status::ok || change.types.types == offeredTypes) << "TARGETS and TIMESTAMP left out";
        ASSERT_EQ(change.reads.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(change.reads[i].status, expected[i]) << "read " << i;
            QByteArray bytesRead;
            for (const auto& [type, bytes] : offered)
                bytesRead = type == reads[i].first && expected[i] == Status::ok ? bytes : bytesRead;
            EXPECT_TRUE(change.reads[i].bytes == bytesRead) << "read " << i << ": " << change.reads[i].bytes.size();
        }
        EXPECT_LE(change.ms, deadlineMs + 1000);
        xclip("after " + QByteArray(name));
        ASSERT_TRUE(waitForSeen(2));
        EXPECT_EQ(seen(1).reads.back().bytes, "after " + QByteArray(name));
    }
}

// A newer change, or stop(), ends a read of a frozen owner at once.
TEST_F(X11ClipboardMonitorTest, ANewerChangeOrStopAbandonsARead)
{
    watch(60'000);
    own(u"frozen"_s, {{utf8, "never"}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return entered() >= 1; }));
    xclip("newer");
    ASSERT_TRUE(waitForSeen(2));
    EXPECT_EQ(seen(0).types.status, Status::superseded);
    EXPECT_EQ(seen(0).reads.at(0).status, Status::superseded);
    EXPECT_EQ(seen(1).reads.at(0).bytes, "newer");

    own(u"frozen"_s, {{utf8, "never"}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return entered() >= 3; }));
    QElapsedTimer timer;
    timer.start();
    m_monitor.stop();
    EXPECT_LT(timer.elapsed(), 300);
    ASSERT_EQ(seenCount(), 3u);
    EXPECT_EQ(seen(2).types.status, Status::superseded);
}

// A plain X client of the test's own, to own selections, go away and ask the clipboard manager.
struct Client {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    ~Client() { xcb_disconnect(c); }

    xcb_atom_t atom(const char* name)
    {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr), &std::free);
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    xcb_window_t owner(xcb_atom_t selection)
    {
        std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr), &std::free);
        return reply ? reply->owner : xcb_window_t(XCB_WINDOW_NONE);
    }
    xcb_window_t window()
    {
        const xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root, 0, 0, 1, 1,
                          0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        return xcb_flush(c), w;
    }
    void setOwner(xcb_window_t w, xcb_atom_t selection)
    {
        xcb_set_selection_owner(c, w, selection, XCB_CURRENT_TIME), xcb_flush(c);
    }
    // The property the answer names (None for a refusal), or nullopt when no answer came.
    std::optional<xcb_atom_t> convert(xcb_window_t w, xcb_atom_t selection, const char* target)
    {
        xcb_convert_selection(c, w, selection, atom(target), atom("ANSWER"), XCB_CURRENT_TIME);
        std::optional<xcb_atom_t> answer;
        (void)QTest::qWaitFor([&] {
            for (xcb_generic_event_t* event; xcb_flush(c), (event = xcb_poll_for_event(c)); std::free(event))
                if ((event->response_type & 0x7f) == XCB_SELECTION_NOTIFY)
                    answer = reinterpret_cast<xcb_selection_notify_event_t*>(event)->property;
            return answer.has_value();
        });
        return answer;
    }
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return entered() >= 3; }));
    const xcb_window_t second = client.window();
    client.setOwner(second, clipboard);
    xcb_destroy_window(client.c, second);
    client.owner(clipboard);  // a round trip: the events the server sent for the above are out
    hold(false);
    ASSERT_TRUE(waitForSeen(3));
    xclip("sentinel");
    ASSERT_TRUE(waitForSeen(4));
    EXPECT_EQ(seen(3).reads.at(0).bytes, "sentinel");
    EXPECT_EQ(emptied(), 1);
}

// Exiting applications hand their clipboard to Nimbrel while it watches, unless another manager is there.
TEST_F(X11ClipboardMonitorTest, ExitingApplicationsAreAnsweredAsClipboardManager)
{
    Client client;
    const xcb_atom_t manager = client.atom("CLIPBOARD_MANAGER"), answer = client.atom("ANSWER");
    watch(1000);
    ASSERT_NE(client.owner(manager), XCB_WINDOW_NONE);
    xclip("saved");
    ASSERT_TRUE(waitForSeen(1));
    const xcb_window_t w = client.window();
    EXPECT_EQ(client.convert(w, manager, "SAVE_TARGETS"), answer);
    EXPECT_EQ(client.convert(w, manager, "TARGETS"), answer);
    EXPECT_EQ(client.convert(w, manager, "UTF8_STRING"), XCB_ATOM_NONE);
    m_monitor.stop();
    EXPECT_EQ(client.owner(manager), XCB_WINDOW_NONE) << "given up with watching";
    const xcb_window_t other = client.window();
    client.setOwner(other, manager);
    watch(1000);
    EXPECT_EQ(client.owner(manager), other) << "another manager is left alone";
}

TEST_F(X11ClipboardMonitorTest, APrimarySelectionIsReadOnceSettledAndOnlyWhenWatched)
{
    watch(1000);
    xclip("not watched", "primary");
    xclip("the clipboard");
    ASSERT_TRUE(waitForSeen(1));
    EXPECT_EQ(seen(0).selection, nimbrel::Selection::clipboard);

    m_monitor.watchPrimary(true);
    ASSERT_EQ(QProcess::execute(u"xdotool"_s, {"mousedown", "1"}), 0);
    xclip("dragged out", "primary");
    // Held for well past the settling time: nothing is read while the button is down.
    EXPECT_FALSE(QTest::qWaitFor([&] { return seenCount() > 1; }, 800));
    ASSERT_EQ(QProcess::execute(u"xdotool"_s, {"mouseup", "1"}), 0);
    ASSERT_TRUE(waitForSeen(2));
    EXPECT_EQ(seen(1).selection, nimbrel::Selection::primary);
    EXPECT_EQ(seen(1).reads.at(0).bytes, "dragged out");
}

}  // namespace
