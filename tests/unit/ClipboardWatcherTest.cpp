#include "history/ClipboardCapture.h"
#include "history/ClipboardWatcher.h"
#include "history/HistoryStore.h"
#include "history/HistoryWriter.h"
#include "settings/SettingsStore.h"
#include "settings/Translations.h"
#include "support/TestEnvironment.h"
#include "support/fake/FakeClipboardMonitor.h"
#include "support/fake/FakePlatform.h"

#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QTest>
#include <QtEndian>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <functional>

using namespace nimbrel;
using namespace Qt::StringLiterals;
using fake::FakeOffer;
using Status = ClipboardOffer::Status;
using Done = EditOutcome::Status;
using App = RunningApplication;

namespace {

constexpr qint64 MiB = 1'048'576;

QByteArray picture(int width, int height, const char* format = "png")
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter(&image).fillRect(0, 0, width / 2, height / 2, Qt::red);
    return test::encoded(image, format);
}

// A valid PNG with a text chunk after its header that claims `length` bytes it does not have.
QByteArray pngClaimingChunk(quint32 length)
{
    const QByteArray png = picture(4, 4);
    QByteArray chunk(4, '\0');
    qToBigEndian(length, chunk.data());
    return png.left(33) + chunk + "tEXtComment" + png.mid(33);
}

std::pair<QString, QByteArray> rep(const char* type, const QByteArray& bytes)
{
    return {QString::fromLatin1(type), bytes};
}

QStringList words(const char* text)
{
    return QString::fromUtf8(text).split(u' ', Qt::SkipEmptyParts);
}

FakeOffer offer(const char* text, Selection from = Selection::clipboard, Status read = Status::ok)
{
    FakeOffer offer = FakeOffer::text(QString::fromUtf8(text));
    offer.from = from;
    if (read != Status::ok)
        offer.statuses.insert(u"UTF8_STRING"_s, read);
    return offer;
}
const FakeOffer secret({rep("text/plain", "hunter2"), rep("x-kde-passwordManagerHint", "secret")});

struct Capture {
    explicit Capture(std::unique_ptr<HistoryStore> opened = std::move(HistoryStore::openInMemory()).value())
        : store(std::move(opened)), watcher(monitor, workspace, *store, settings, console, clock)
    {
        workspace.frontmost = App{u"org.gnome.TextEditor"_s, u"Text Editor"_s};
        QObject::connect(&watcher, &ClipboardWatcher::changeHandled, [this] { ++handled; });
        QObject::connect(&watcher, &ClipboardWatcher::storeChanged, [this] { ++storeChanges; });
        started = watcher.start();
    }

    // Another application copies; returns once the writer has dealt with the change.
    void copy(FakeOffer& offer, qint64 afterMs = 1000)
    {
        clock.advance(afterMs);
        const int before = handled;
        ASSERT_TRUE(monitor.change(offer));
        ASSERT_TRUE(QTest::qWaitFor([&] { return handled > before; }, 10'000));
    }
    void copy(FakeOffer&& offer, qint64 afterMs = 1000) { copy(offer, afterMs); }
    void copyText(const char* text) { copy(offer(text)); }

    QList<ClipItem> records() { return store->fetch({SortOrder::descending, {}, false, true}).value(); }
    // Oldest first; "<image>" for an image.
    QStringList texts()
    {
        QStringList list;
        for (const ClipItem& r : records())
            list.prepend(r.contentText.value_or(u"<image>"_s));
        return list;
    }
    std::optional<ClipItem> record(const QString& text)
    {
        for (const ClipItem& r : records())
            if (r.contentText.value_or(u"<image>"_s) == text)
                return r;
        return std::nullopt;
    }
    QUuid id(const char* text) { return record(QString::fromUtf8(text)).value_or(ClipItem{}).id; }
    // Asks for an edit and waits for its reply, which must come once, on this (the UI) thread.
    EditOutcome edit(const std::function<void(EditReply)>& ask)
    {
        auto outcome = std::make_shared<std::optional<EditOutcome>>();
        ask([outcome](const EditOutcome& reply) {
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
            EXPECT_FALSE(outcome->has_value()) << "replied twice";
            *outcome = reply;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return outcome->has_value(); }, 20'000));
        return outcome->value_or(EditOutcome{Done::failed, u"no reply"_s});
    }
    Done pin(const QUuid& id)
    {
        return edit([&](EditReply r) { watcher.setPinned(id, true, r); }).status;
    }
    // Returns once the writer has done everything asked before: its queue keeps the order.
    void sync() { pin(QUuid::createUuid()); }

    fake::MemoryDefaults defaults;
    fake::LoginItems loginItems;
    fake::RecordingConsole console;
    fake::ManualClock clock;
    fake::FakeClipboardMonitor monitor;
    fake::FakeWorkspace workspace;
    Translations translations{QString()};
    SettingsStore settings{defaults, loginItems, console, translations};
    std::unique_ptr<HistoryStore> store;
    ClipboardWatcher watcher;
    int handled = 0, storeChanges = 0;
    bool started = false;
};

}  // namespace

TEST(ClipboardWatcher, ContentsDecideTheRecord)
{
    struct Case {
        const char* name;
        std::optional<ClipKind> kind;  // none: nothing is recorded
        const char* text;
        QList<std::pair<QString, QByteArray>> contents;
        QStringList formats = {};  // the formatted forms kept with the text
        QSize stored = {};         // an image converted to PNG; invalid: the PNG copied, unchanged
        bool secret = false;       // nothing but the hint may be read
    };
    const QByteArray png = picture(8, 4), wide = picture(4000, 1000, "bmp");
    const QString html = u"text/html"_s, rtf = u"text/rtf"_s;
    const std::nullopt_t none = std::nullopt;
    using K = ClipKind;
    // clang-format off
    const QList<Case> cases = {
        {"only the charset-labelled type", K::text, "café", {rep("text/plain;charset=utf-8", "caf\xc3\xa9")}},
        {"Latin-1 STRING", K::text, "café", {rep("STRING", "caf\xe9")}},
        {"UTF-8 before STRING", K::text, "é", {rep("STRING", "x"), rep("UTF8_STRING", "\xc3\xa9")}},
        {"an empty UTF-8 text, then STRING", K::text, "x", {rep("UTF8_STRING", ""), rep("STRING", "x")}},
        {"address object and text", K::link, "https://a.example/p?q=1",
         {rep("text/uri-list", "https://a.example/p?q=1\r\n"), rep("text/plain", "A page")}},
        {"several addresses: the first", K::link, "https://one.example/", {rep("text/uri-list", "# c\nhttps://one.example/\nx:y\n")}},
        {"PNG and an address: the image", K::image, "", {rep("image/png", png), rep("text/uri-list", "https://a.example/\n")}},
        {"only RTF: the text comes from it, and it is kept", K::color, "#ABC",
         {rep("text/rtf", "{\\rtf1\\ansi{\\fonttbl\\f0 Helvetica;}\\f0 #ABC}")}, {rtf}},
        {"HTML and RTF beside the text, the first RTF type only", K::text, "bold",
         {rep("text/plain", "bold"), rep("application/rtf", "{\\rtf1 b}"), rep("text/html", "<b>bold</b>"),
          rep("text/rtf", "{\\rtf1 {\\b bold}}")}, {html, rtf}},
        {"a link with its markup", K::link, "https://a.example/",
         {rep("text/plain", "https://a.example/"), rep("text/html", "<a href=\"https://a.example/\">a</a>")}, {html}},
        {"an image keeps no markup", K::image, "", {rep("image/png", png), rep("text/html", "<img>")}},
        {"empty text", none, "", {rep("text/plain", "")}},
        {"nothing readable", none, "", {rep("application/x-unknown", "zz")}},
        {"password manager secret", none, "", {rep("UTF8_STRING", "pw"), rep("x-kde-passwordManagerHint", "secret")}, {}, {}, true},
        {"concealed type", none, "", {rep("UTF8_STRING", "pw"), rep("org.nspasteboard.ConcealedType", "")}, {}, {}, true},
        {"transient type", none, "", {rep("text/plain", "otp"), rep("org.nspasteboard.TransientType", "")}, {}, {}, true},
        {"a hint that is not secret", K::text, "ok", {rep("text/plain", "ok"), rep("x-kde-passwordManagerHint", "other")}},
        // Bytes that only claim to be an image are not one; the text beside them is what was copied.
        {"random bytes as PNG, with text", K::text, "t", {rep("image/png", QByteArray(300, 'Z')), rep("text/plain", "t")}},
        {"truncated PNG", none, "", {rep("image/png", png.left(png.size() / 2))}},
        {"PNG with a chunk claiming 2 GB", none, "", {rep("image/png", pngClaimingChunk(0x7fff'fff0))}},
        {"generic image is reduced to 1024", K::image, "", {rep("image/bmp", wide)}, {}, {1024, 256}},
        {"broken PNG, sound BMP: the BMP", K::image, "", {rep("image/png", "\x89PNG\r\n"), rep("image/bmp", wide)}, {}, {1024, 256}},
        {"a copied file is never taken for an image", none, "",
         {rep("text/uri-list", "file:///home/u/photo.png\n"), rep("image/bmp", wide)}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Capture capture;
        FakeOffer offer(c.contents);
        capture.copy(offer);
        const auto records = capture.records();
        EXPECT_FALSE(c.secret && (offer.asked.contains(u"UTF8_STRING"_s) || offer.asked.contains(u"text/plain"_s)));
        ASSERT_EQ(records.size(), c.kind ? 1 : 0);
        if (!c.kind)
            continue;
        const ClipItem& r = records.first();
        EXPECT_EQ(r.kind(), *c.kind);
        EXPECT_EQ(std::tie(r.sourceAppId, r.sourceName, r.createdAt),
                  std::tuple(u"org.gnome.TextEditor"_s, u"Text Editor"_s, capture.clock.now()));
        if (*c.kind == ClipKind::image) {
            EXPECT_TRUE(capture.store->thumbnail(r.id).value().has_value());
            EXPECT_EQ(r.byteSize, r.contentImage->size());
            EXPECT_EQ(QImage::fromData(*r.contentImage, "png").size(), c.stored.isValid() ? c.stored : QSize(8, 4));
            EXPECT_TRUE(c.stored.isValid() || r.contentImage == png) << "PNG data is stored unchanged";
            continue;
        }
        EXPECT_EQ(r.contentText, QString::fromUtf8(c.text));
        ClipItem loaded = r;
        ASSERT_TRUE(capture.store->loadContents(loaded).ok());
        QStringList kept;
        qint64 size = QByteArray(c.text).size();
        for (const auto& [type, bytes] : loaded.formats) {
            kept.append(type);
            size += bytes.size();
            EXPECT_TRUE(c.contents.contains(std::pair{type, bytes})) << "kept as copied";
        }
        EXPECT_EQ(kept, c.formats);
        EXPECT_EQ(r.byteSize, size) << "the budget counts the formatted forms";
    }
}

// Paused, an excluded application in front, Nimbrel's own contents or window: the change is never read.
// A repeat of the newest record only is dropped.
TEST(ClipboardWatcher, ChangesHeldBackNimbrelsOwnOrRepeatedAreNotRecorded)
{
    Capture capture;
    capture.settings.setExcludedApplications({u" org.keepassxc.KeePassXC.desktop "_s, u"xterm"_s, {}});
    const App editor{u"org.gnome.TextEditor"_s};
    // name, application in front, paused, own contents, times the types are read (0: held back before), recorded
    // clang-format off
    const std::tuple<const char*, std::optional<App>, bool, bool, int, bool> cases[] = {
        {"excluded by desktop id, without its suffix and case", App{"org.KeePassXC.keepassxc"}, false, false, 0, false},
        {"excluded by window class", App{"org.example.Term", {}, "XTerm"}, false, false, 0, false},
        {"a name that only contains an excluded one", App{"uxterm"}, false, false, 1, true},
        {"no window in front", std::nullopt, false, false, 1, true},
        {"paused", editor, true, false, 0, false},
        {"Nimbrel's own contents", editor, false, true, 1, false},
        {"Nimbrel's window in front", App{"org.nimbrel.Nimbrel", "Nimbrel"}, false, false, 1, false},
    };
    // clang-format on
    qsizetype records = 0;
    for (const auto& [name, front, paused, own, typeReads, recorded] : cases) {
        SCOPED_TRACE(name);
        capture.workspace.frontmost = front;
        capture.watcher.gate().setPaused(paused);
        FakeOffer copied = offer(name);
        copied.ownContent = own;
        capture.copy(copied);
        ASSERT_EQ(capture.records().size(), records += recorded);
        EXPECT_EQ(copied.typeReads, typeReads);
        EXPECT_TRUE(recorded || copied.asked.isEmpty());
        EXPECT_TRUE(front || !capture.records().first().sourceAppId) << "no window in front, no source";
    }
    EXPECT_TRUE(capture.console.lines.isEmpty());

    Capture repeats;
    // A repeat is dropped; blanks make a new text; canonically equivalent forms are the same text.
    for (const char* text : {"A", "A", "B", "A", " A", "e\u0301", "\u00e9"})
        repeats.copyText(text);
    EXPECT_EQ(repeats.texts(), (QStringList{"A", "B", "A", " A", "e\u0301"}));
    for (const QByteArray& png : {picture(8, 4), picture(8, 4), picture(4, 8)})
        repeats.copy(FakeOffer({rep("image/png", png)}));
    EXPECT_EQ(repeats.records().size(), 7);
}

TEST(ClipboardWatcher, AnApplicationThatExitsLeavesWhatItCopiedOnlyWhenItWasRecorded)
{
    FakeOffer own = offer("mine");
    own.ownContent = true;
    // clang-format off
    const std::tuple<const char*, std::function<void(Capture&)>, const char*, QStringList> cases[] = {
        {"a recorded copy, with its markup",
         [](Capture& c) { c.copy(FakeOffer({rep("text/plain", "bold"), rep("text/html", "<b>bold</b>")})); },
         "bold", {u"text/html"_s}},
        {"a repeat of the newest record", [](Capture& c) { c.copyText("a"), c.copyText("b"), c.copyText("b"); }, "b", {}},
        {"a password manager's secret", [](Capture& c) { c.copyText("older"), c.copy(FakeOffer(secret)); }, nullptr, {}},
        {"Nimbrel's own contents", [&own](Capture& c) { c.copyText("older"), c.copy(own); }, nullptr, {}},
        {"a copy that was not answered",
         [](Capture& c) { c.copyText("older"), c.copy(offer("late", Selection::clipboard, Status::timedOut)); }, nullptr, {}},
        {"a record deleted since", [](Capture& c) { c.copyText("gone"), c.watcher.remove(c.id("gone")); }, nullptr, {}},
    };
    // clang-format on
    for (const auto& [name, steps, text, formats] : cases) {
        SCOPED_TRACE(name);
        Capture capture;
        QList<ClipItem> offered;
        QObject::connect(&capture.watcher, &ClipboardWatcher::offerAgain, [&](const ClipItem& i) { offered << i; });
        steps(capture);
        ASSERT_TRUE(capture.monitor.empty());
        // Whatever the writer makes of the emptying has reached the UI thread once a later change is handled.
        capture.copy(offer("sentinel", Selection::primary, Status::superseded));
        ASSERT_EQ(offered.size(), text ? 1 : 0);
        if (!text)
            continue;
        EXPECT_EQ(offered.first().contentText, QString::fromUtf8(text));
        QStringList types;
        for (const auto& format : offered.first().formats)
            types.append(format.first);
        EXPECT_EQ(types, formats) << "offered with everything it was copied with";
    }
}

TEST(ClipboardWatcher, MouseSelectionsAreRecordedOnlyWhenAskedAndGrowIntoOneRecord)
{
    Capture capture;
    EXPECT_FALSE(capture.monitor.primaryWatched) << "off by default";
    capture.settings.setRecordPrimarySelection(true);
    EXPECT_TRUE(capture.monitor.primaryWatched);
    const auto select = [&](const char* text, qint64 afterMs = 1000) {
        capture.copy(offer(text, Selection::primary), afterMs);
    };
    const auto newest = [&](qsizetype n) { return capture.texts().mid(capture.texts().size() - n); };
    for (const char* text : {"hello", "hello wor", "hello world"})
        select(text);
    EXPECT_EQ(capture.texts(), QStringList{"hello world"}) << "a growing selection is one record";
    select("hello world again", HistoryWriter::selectionGrowthMs + 1000);
    select("unrelated");
    capture.copyText("unrelated and copied");
    select("unrelated and copied, then selected");
    // Only a selection's own record made seconds before is replaced, never the copy it also contains.
    EXPECT_EQ(capture.texts(), (QStringList{"hello world", "hello world again", "unrelated and copied",
                                            "unrelated and copied, then selected"}));

    // While a secret is on the clipboard, or after a change held back (it may have been one), a selection
    // is not even read until the next change that is read.
    const auto unread = [&](const char* text) {
        FakeOffer shown = offer(text, Selection::primary);
        ASSERT_TRUE(capture.monitor.change(shown));
        EXPECT_EQ(shown.typeReads, 0);
        EXPECT_TRUE(shown.asked.isEmpty());
    };
    capture.copy(FakeOffer(secret));
    unread("hunter2");
    capture.copyText("after the secret");
    select("selected after the secret");
    capture.watcher.gate().setPaused(true);
    capture.copyText("copied while paused");
    capture.watcher.gate().setPaused(false);
    unread("maybe the secret");
    capture.copyText("read again");
    EXPECT_EQ(newest(3), (QStringList{"after the secret", "selected after the secret", "read again"}));

    // A selection's record that the user pinned is theirs: a growing selection leaves it.
    select("pinned selection");
    EXPECT_EQ(capture.pin(capture.records().first().id), Done::done);
    select("pinned selection, grown");
    EXPECT_EQ(newest(2), (QStringList{"pinned selection", "pinned selection, grown"}));

    // A selection that cannot be had is not worth a line.
    capture.copy(offer("slow", Selection::primary, Status::timedOut));
    EXPECT_TRUE(capture.console.lines.isEmpty());
    capture.settings.setRecordPrimarySelection(false);
    EXPECT_FALSE(capture.monitor.primaryWatched);
}

// One copy never costs the history: what is over a quarter of the budget is refused with a line and
// prunes nothing; an owner that does not answer costs only its own copy. The budget counts what the store
// holds now, so a deletion in the panel spares the next record's pruning.
TEST(ClipboardWatcher, OversizedAndUnansweredCopiesAreRefusedAloneAndTheBudgetCountsTheStore)
{
    const qint64 quarter = 25 * MiB;  // of the smallest budget, 100 MB
    const char* unanswered = "[Nimbrel] The application that copied did not hand over";
    // name, size, how the types and the data are answered, the start of the one line said (null: stored)
    // clang-format off
    const std::tuple<const char*, qint64, Status, Status, const char*> cases[] = {
        {"text over a quarter", quarter + 1, Status::ok, Status::ok, "[Nimbrel] A copy larger than"},
        {"text of exactly a quarter", quarter, Status::ok, Status::ok, nullptr},
        {"types never answered", 1, Status::timedOut, Status::ok, unanswered},
        {"data never answered", 1, Status::ok, Status::timedOut, unanswered},
        {"replaced while read", 1, Status::ok, Status::superseded, ""},
    };
    // clang-format on
    for (const auto& [name, size, types, data, line] : cases) {
        SCOPED_TRACE(name);
        Capture capture;
        capture.settings.setMaxStorageMB(100);
        capture.copyText("earlier 0"), capture.copyText("earlier 1");
        FakeOffer copied = offer(QByteArray(size, 'x').constData(), Selection::clipboard, data);
        copied.typesStatus = types;
        capture.copy(copied);
        EXPECT_EQ(capture.records().size(), line ? 2 : 3) << "earlier records all stay";
        ASSERT_EQ(capture.console.lines.size(), line && *line ? 1 : 0);
        EXPECT_TRUE(!line || !*line || capture.console.lines.value(0).startsWith(QLatin1String(line)));
        capture.copyText("the next copy");
        EXPECT_EQ(capture.texts().last(), u"the next copy"_s);
    }

    // 100 MB held with a 4 MB record among them: once it is deleted, the next copy prunes nothing.
    Capture capture;
    capture.settings.setMaxStorageMB(100);
    QUuid large;
    for (int i = 0; i < 97; ++i) {
        ClipItem item =
            ClipItem::make(ClipKind::text, QString::number(i), {}, {}, {}, {}, capture.clock.now().addSecs(i - 100));
        item.byteSize = i == 50 ? 4 * MiB : MiB;
        large = i == 50 ? item.id : large;
        ASSERT_TRUE(capture.store->insert(item).ok());
    }
    ASSERT_TRUE(capture.store->save().ok());
    EXPECT_EQ(capture.edit([&](EditReply r) { capture.watcher.remove(large, false, r); }).status, Done::done);
    capture.copyText("new");
    EXPECT_EQ(capture.texts().first(), u"0"_s);
    EXPECT_EQ(capture.store->totalByteSize().value(), 96 * MiB + 3);
}

// A store that refuses writes: the copy is said lost, and each edit's reply says why.
TEST(ClipboardWatcher, AStoreThatRefusesWritesIsSaid)
{
    const QString path = test::freshDirectory() + u"/history.store"_s;
    const ClipItem kept = ClipItem::make(ClipKind::text, u"kept"_s, {}, {}, {}, {}, QDateTime::currentDateTimeUtc());
    {
        const auto writable = std::move(HistoryStore::openFile(path)).value();
        ASSERT_TRUE(writable->insert(kept).ok() && writable->save().ok());
    }
    Capture readOnly(std::move(HistoryStore::openReadOnly(path)).value());
    readOnly.copyText("cannot be stored");
    ASSERT_EQ(readOnly.console.lines.size(), 1);
    EXPECT_TRUE(readOnly.console.lines.first().startsWith(u"[Nimbrel] save error: "_s));
    for (const EditOutcome& outcome : {readOnly.edit([&](EditReply r) { readOnly.watcher.remove(kept.id, true, r); }),
                                       readOnly.edit([&](EditReply r) { readOnly.watcher.clear(true, r); })}) {
        EXPECT_EQ(outcome.status, Done::failed);
        EXPECT_TRUE(outcome.error.contains(u"read-only"_s)) << outcome.error.toStdString();
    }
    EXPECT_EQ(readOnly.texts(), QStringList{"kept"});
}

// Every edit answers on the UI thread with what became of it; the UI hears of every change made.
// Unknown ids and the counts of a clear are answered end to end; a stopped writer must answer at once.
TEST(HistoryWriter, EditsAskedOfAStoppedWriterFailAtOnce)
{
    Capture capture;
    capture.copyText("a");
    capture.watcher.stop();
    std::optional<EditOutcome> said;
    capture.watcher.clear(true, [&said](const EditOutcome& outcome) { said = outcome; });
    ASSERT_TRUE(said.has_value());
    EXPECT_EQ(std::tuple(said->status, said->error), std::tuple(Done::failed, u"recording is not running"_s));
    EXPECT_EQ(capture.texts(), words("a"));
}

// A deletion kept for undo comes back exactly as it was: same id, contents, formatted forms, image and
// thumbnail, pin, time and source. Only the last one is kept, and forgetting or clearing drops it.
TEST(HistoryWriter, UndoBringsBackTheLastDeletedRecordAsItWas)
{
    const auto whole = [](Capture& c, const QString& text) {
        ClipItem i = c.record(text).value_or(ClipItem{});
        EXPECT_TRUE(c.store->loadContents(i).ok());
        i.thumbnailData = c.store->thumbnail(i.id).value();
        return std::tuple(i.id, i.kindRaw, i.contentText, i.contentImage, i.thumbnailData, i.formats, i.pinned,
                          i.createdAt, i.sourceAppId, i.sourceName, i.byteSize);
    };
    for (const QString& deleted : {u"bold"_s, u"<image>"_s}) {
        SCOPED_TRACE(deleted.toStdString());
        Capture capture;
        capture.copy(FakeOffer({rep("text/plain", "bold"), rep("text/html", "<b>bold</b>")}));
        capture.copy(FakeOffer({rep("image/png", picture(300, 200))}));
        capture.copyText("plain");
        const QUuid id = capture.record(deleted)->id;
        const bool pin = deleted == u"bold"_s;
        if (pin)
            capture.pin(id);
        const auto before = whole(capture, deleted);
        ASSERT_EQ(std::get<6>(before), pin);
        ASSERT_TRUE(std::get<4>(before).has_value() || !std::get<5>(before).isEmpty());
        ASSERT_EQ(capture.edit([&](EditReply r) { capture.watcher.remove(id, true, r); }).status, Done::done);
        ASSERT_FALSE(capture.record(deleted));
        capture.watcher.undoRemove();
        capture.sync();
        EXPECT_TRUE(whole(capture, deleted) == before);
        EXPECT_EQ(capture.texts(), (QStringList{"bold", "<image>", "plain"}));
    }

    using W = ClipboardWatcher;
    // clang-format off
    const std::tuple<const char*, std::function<void(W&, const QUuid& bold, const QUuid& plain)>, const char*> sequences[] = {
        {"only the last deletion is kept",
         [](W& w, auto& bold, auto& plain) { w.remove(bold, true), w.remove(plain, true), w.undoRemove(), w.undoRemove(); }, "plain"},
        {"a deletion not kept for undo leaves the kept one",
         [](W& w, auto& bold, auto& plain) { w.remove(bold, true), w.remove(plain), w.undoRemove(); }, "bold"},
        {"forgotten", [](W& w, auto& bold, auto&) { w.remove(bold, true), w.forgetRemoved(), w.undoRemove(); }, "plain"},
        {"a clear leaves nothing to undo", [](W& w, auto& bold, auto& plain) {
             w.setPinned(plain, true), w.remove(bold, true), w.clear(false, {}), w.undoRemove(); }, "plain"},
    };
    // clang-format on
    for (const auto& [name, steps, left] : sequences) {
        SCOPED_TRACE(name);
        Capture capture;
        capture.copyText("bold");
        capture.copyText("plain");
        steps(capture.watcher, capture.id("bold"), capture.id("plain"));
        capture.sync();
        EXPECT_EQ(capture.texts(), words(left));
    }
}

// Copies and edits wait for a store another program holds, are said once, lose nothing, and are made in
// the order asked: each one sees the history the ones before it left.
TEST(HistoryWriter, CopiesAndEditsWaitForABusyStoreInTheirOrder)
{
    const QString path = test::freshDirectory() + u"/history.store"_s;
    Capture capture(std::move(HistoryStore::openFile(path)).value());
    ASSERT_TRUE(capture.started);
    capture.copyText("x");
    capture.copyText("y");
    const QUuid x = capture.id("x");
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    QStringList replies;
    const auto note = [&replies](const char* what) {
        return [&replies, what](const EditOutcome& o) {
            replies << u"%1 %2 %3"_s.arg(what).arg(int(o.status)).arg(o.records);
        };
    };
    capture.copyText("first");
    capture.watcher.remove(x, true, note("remove"));
    capture.watcher.undoRemove();
    capture.watcher.setPinned(x, true, note("pin"));
    capture.watcher.clear(false, note("clear"));
    capture.copyText("last");
    capture.watcher.setPinned(x, false, note("unpin"));
    EXPECT_EQ(capture.texts(), (QStringList{"x", "y"}));
    EXPECT_TRUE(replies.isEmpty());
    ASSERT_EQ(capture.console.lines.size(), 1);
    EXPECT_TRUE(capture.console.lines.first().startsWith(QLatin1String("[Nimbrel] The history store is busy")));

    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    ASSERT_TRUE(QTest::qWaitFor([&] { return replies.size() == 4; }, 20'000));
    const int done = int(Done::done);
    EXPECT_EQ(replies, (QStringList{u"remove %1 0"_s.arg(done), u"pin %1 0"_s.arg(done), u"clear %1 2"_s.arg(done),
                                    u"unpin %1 0"_s.arg(done)}));
    EXPECT_EQ(capture.texts(), (QStringList{"x", "last"}));
    EXPECT_FALSE(capture.record(u"x"_s)->pinned);
}

// After a clear the writer gives the space back at once (proven end to end, test_history_management.py),
// or, while a reader holds the WAL, keeps trying: if the reader never lets go, it says so, and the next
// clear gives it back.
TEST(HistoryWriter, AClearGivesItsSpaceBackOnceReadersLetGo)
{
    const QString path = test::freshDirectory() + u"/history.store"_s, wal = path + u"-wal"_s;
    Capture capture(std::move(HistoryStore::openFile(path)).value());
    capture.copyText(QByteArray("correct-horse-battery-staple-" + QByteArray(50'000, 'z')).constData());
    const auto fileHolds = [&](const QByteArray& bytes) {
        QFile store(path), journal(wal);
        return (store.open(QIODevice::ReadOnly) && store.readAll().contains(bytes)) ||
               (journal.open(QIODevice::ReadOnly) && journal.readAll().contains(bytes));
    };
    ASSERT_TRUE(fileHolds("correct-horse"));
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(path).constData(), &reader, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM clip", nullptr, nullptr, nullptr), SQLITE_OK);
    const auto clear = [&capture] { return capture.edit([&](EditReply r) { capture.watcher.clear(true, r); }); };
    EXPECT_EQ(clear().records, 1);
    EXPECT_GT(QFileInfo(wal).size(), 0) << "the reader keeps the WAL";
    ASSERT_TRUE(QTest::qWaitFor([&] { return capture.console.lines.size() == 1; }, 20'000));
    EXPECT_EQ(capture.console.lines.first(),
              u"[Nimbrel] The space of the cleared records could not be given back yet: "
              u"another program keeps reading the history store"_s);
    sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(reader);
    clear();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(wal).size() == 0; }, 20'000));
    EXPECT_FALSE(fileHolds("correct-horse"));
    EXPECT_EQ(capture.console.lines.size(), 1);
}
