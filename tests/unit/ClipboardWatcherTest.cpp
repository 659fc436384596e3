#include "history/ClipboardCapture.h"
#include "history/ClipboardWatcher.h"
#include "history/HistoryStore.h"
#include "history/HistoryWriter.h"
#include "support/fake/FakeClipboardMonitor.h"
#include "support/fake/FakePlatform.h"
#include "settings/SettingsStore.h"
#include "settings/Translations.h"
#include "support/TestEnvironment.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTest>
#include <QtEndian>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <functional>

using namespace nimbrel;
using fake::FakeOffer;
using Status = ClipboardOffer::Status;

namespace {

constexpr qint64 MiB = 1'048'576;

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, format).write(image);
    return bytes;
}

QImage picture(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.fillRect(0, 0, width / 2, height / 2, Qt::red);
    return image;
}

QSize pngSize(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    return reader.canRead() ? reader.size() : QSize();
}

// A valid PNG with a text chunk after its header that claims `length` bytes it does not have.
QByteArray pngClaimingChunk(quint32 length)
{
    const QByteArray png = encoded(picture(4, 4), "png");
    QByteArray chunk(4, '\0');
    qToBigEndian(length, chunk.data());
    chunk += "tEXtComment";
    return png.left(33) + chunk + png.mid(33);
}

std::pair<QString, QByteArray> rep(const char* type, const QByteArray& bytes)
{
    return {QString::fromLatin1(type), bytes};
}

struct Capture {
    explicit Capture(std::unique_ptr<HistoryStore> opened = std::move(HistoryStore::openInMemory()).value())
        : translations(QString()),
          settings(defaults, loginItems, console, translations),
          store(std::move(opened)),
          watcher(monitor, workspace, *store, settings, console, clock)
    {
        workspace.frontmost = RunningApplication{QStringLiteral("org.gnome.TextEditor"), QStringLiteral("Text Editor")};
        QObject::connect(&watcher, &ClipboardWatcher::changeHandled, [this] { ++handled; });
        QObject::connect(&watcher, &ClipboardWatcher::storeChanged, [this] { ++storeChanges; });
        started = watcher.start();
    }

    // Another application copies; returns once the writer has dealt with the change.
    void copy(FakeOffer& offer)
    {
        clock.advance(1000);
        const int before = handled;
        ASSERT_TRUE(monitor.change(offer));
        ASSERT_TRUE(QTest::qWaitFor([&] { return handled > before; }, 10'000));
    }
    void copy(FakeOffer&& offer) { copy(offer); }
    void copyText(const QString& text) { copy(FakeOffer::text(text)); }

    QList<ClipItem> records()
    {
        FetchDescriptor newestFirst;
        newestFirst.sortByCreatedAt = SortOrder::descending;
        newestFirst.includeImages = true;
        return store->fetch(newestFirst).value();
    }
    QStringList texts()
    {
        QStringList list;
        for (const ClipItem& r : records())
            list.prepend(r.contentText.value_or(QStringLiteral("<image>")));
        return list;
    }
    std::optional<ClipItem> record(const QString& text)
    {
        for (const ClipItem& r : records()) {
            if (r.contentText.value_or(QStringLiteral("<image>")) == text)
                return r;
        }
        return std::nullopt;
    }

    // Asks for an edit and waits for its reply, which must come on this (the UI) thread.
    EditOutcome edit(const std::function<void(EditReply)>& ask)
    {
        auto outcome = std::make_shared<std::optional<EditOutcome>>();
        ask([outcome](const EditOutcome& reply) {
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
            EXPECT_FALSE(outcome->has_value()) << "replied twice";
            *outcome = reply;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return outcome->has_value(); }, 20'000));
        return outcome->value_or(EditOutcome{EditOutcome::Status::failed, QStringLiteral("no reply")});
    }
    // Returns once the writer has done everything asked before: its queue keeps the order.
    void sync()
    {
        edit([this](EditReply reply) { watcher.setPinned(QUuid::createUuid(), true, std::move(reply)); });
    }

    fake::MemoryDefaults defaults;
    fake::LoginItems loginItems;
    fake::RecordingConsole console;
    fake::ManualClock clock;
    fake::FakeClipboardMonitor monitor;
    fake::FakeWorkspace workspace;
    Translations translations;
    SettingsStore settings;
    std::unique_ptr<HistoryStore> store;
    ClipboardWatcher watcher;
    int handled = 0;
    int storeChanges = 0;
    bool started = false;
};

}  // namespace

TEST(ClipboardWatcher, ContentsDecideTheRecord)
{
    struct Case {
        const char* name;
        QList<std::pair<QString, QByteArray>> contents;
        std::optional<ClipKind> kind;  // none: nothing is recorded
        QString text;
        QStringList formats = {};  // the formatted forms kept with the text
    };
    const QByteArray png = encoded(picture(8, 4), "png");
    const QList<Case> cases = {
        {"plain text", {rep("text/plain", "  hello \n")}, ClipKind::text, QStringLiteral("  hello \n")},
        {"only the charset-labelled type",
         {rep("text/plain;charset=utf-8", "caf\xc3\xa9")},
         ClipKind::text,
         QStringLiteral("café")},
        {"Latin-1 STRING", {rep("STRING", "caf\xe9")}, ClipKind::text, QStringLiteral("café")},
        {"UTF-8 before STRING",
         {rep("STRING", "x"), rep("UTF8_STRING", "\xc3\xa9")},
         ClipKind::text,
         QStringLiteral("é")},
        {"an empty UTF-8 text, then STRING",
         {rep("UTF8_STRING", ""), rep("STRING", "x")},
         ClipKind::text,
         QStringLiteral("x")},
        {"colour", {rep("text/plain", "#FFF")}, ClipKind::color, QStringLiteral("#FFF")},
        {"web address as text",
         {rep("text/plain", "https://a.example/x")},
         ClipKind::link,
         QStringLiteral("https://a.example/x")},
        {"address object and text",
         {rep("text/uri-list", "https://a.example/p?q=1\r\n"), rep("text/plain", "A page")},
         ClipKind::link,
         QStringLiteral("https://a.example/p?q=1")},
        {"several addresses: the first",
         {rep("text/uri-list", "# comment\nhttps://one.example/\nhttps://two.example/\n")},
         ClipKind::link,
         QStringLiteral("https://one.example/")},
        {"a copied file with its name as text",
         {rep("text/uri-list", "file:///home/u/a.txt\n"), rep("text/plain", "a.txt")},
         std::nullopt,
         {}},
        {"PNG and an address: the image",
         {rep("image/png", png), rep("text/uri-list", "https://a.example/\n")},
         ClipKind::image,
         {}},
        {"only RTF: the text comes from it, and it is kept",
         {rep("text/rtf", "{\\rtf1\\ansi{\\fonttbl\\f0 Helvetica;}\\f0 #ABC}")},
         ClipKind::color,
         QStringLiteral("#ABC"),
         {QStringLiteral("text/rtf")}},
        {"HTML and RTF beside the text, the first RTF type only",
         {rep("text/plain", "bold"), rep("application/rtf", "{\\rtf1 b}"), rep("text/html", "<b>bold</b>"),
          rep("text/rtf", "{\\rtf1 {\\b bold}}")},
         ClipKind::text,
         QStringLiteral("bold"),
         {QStringLiteral("text/html"), QStringLiteral("text/rtf")}},
        {"a link with its markup",
         {rep("text/plain", "https://a.example/"), rep("text/html", "<a href=\"https://a.example/\">a</a>")},
         ClipKind::link,
         QStringLiteral("https://a.example/"),
         {QStringLiteral("text/html")}},
        {"an image keeps no markup", {rep("image/png", png), rep("text/html", "<img>")}, ClipKind::image, {}},
        {"empty text", {rep("text/plain", "")}, std::nullopt, {}},
        {"nothing readable", {rep("application/x-unknown", "zz")}, std::nullopt, {}},
        {"Nimbrel's own paste", {rep("text/plain", "mine"), rep("org.nimbrel.internal", "\x01")}, std::nullopt, {}},
        {"password manager secret",
         {rep("text/plain", "hunter2"), rep("x-kde-passwordManagerHint", "secret")},
         std::nullopt,
         {}},
        {"concealed type", {rep("text/plain", "hunter2"), rep("org.nspasteboard.ConcealedType", "")}, std::nullopt, {}},
        {"transient type", {rep("text/plain", "otp"), rep("org.nspasteboard.TransientType", "")}, std::nullopt, {}},
        {"a hint that is not secret",
         {rep("text/plain", "ok"), rep("x-kde-passwordManagerHint", "other")},
         ClipKind::text,
         QStringLiteral("ok")},
        // Bytes that only claim to be an image are not one; the text beside them is what was copied.
        {"random bytes as PNG, with text",
         {rep("image/png", QByteArray(300, '\x5a')), rep("text/plain", "t")},
         ClipKind::text,
         QStringLiteral("t")},
        {"truncated PNG", {rep("image/png", png.left(png.size() / 2))}, std::nullopt, {}},
        {"PNG with a chunk claiming 2 GB", {rep("image/png", pngClaimingChunk(0x7fff'fff0))}, std::nullopt, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Capture capture;
        FakeOffer offer(c.contents);
        capture.copy(offer);
        const auto records = capture.records();
        if (!c.kind) {
            EXPECT_TRUE(records.isEmpty());
            continue;
        }
        ASSERT_EQ(records.size(), 1);
        const ClipItem& r = records.first();
        EXPECT_EQ(r.kind(), *c.kind);
        EXPECT_EQ(r.sourceAppId, QStringLiteral("org.gnome.TextEditor"));
        EXPECT_EQ(r.sourceName, QStringLiteral("Text Editor"));
        EXPECT_EQ(r.createdAt, capture.clock.now());
        if (*c.kind == ClipKind::image) {
            EXPECT_EQ(r.contentImage, png) << "PNG data is stored unchanged";
            EXPECT_EQ(r.byteSize, png.size());
            EXPECT_TRUE(capture.store->thumbnail(r.id).value().has_value());
        } else {
            EXPECT_EQ(r.contentText, c.text);
            ClipItem loaded = r;
            ASSERT_TRUE(capture.store->loadContents(loaded).ok());
            QStringList kept;
            qint64 size = c.text.toUtf8().size();
            for (const auto& [type, bytes] : loaded.formats) {
                kept.append(type);
                size += bytes.size();
                EXPECT_TRUE(c.contents.contains(std::pair{type, bytes})) << "kept as copied";
            }
            EXPECT_EQ(kept, c.formats);
            EXPECT_EQ(r.byteSize, size) << "the budget counts the formatted forms";
        }
    }
}

TEST(ClipboardWatcher, SecretsAndOwnContentsAreNeverRead)
{
    struct Case {
        const char* name;
        FakeOffer offer;
        QStringList asked;
    };
    FakeOffer own = FakeOffer::text(QStringLiteral("copied in the panel's search field"));
    own.ownContent = true;
    const QList<std::pair<const char*, FakeOffer>> offers = {
        {"concealed", FakeOffer({rep("UTF8_STRING", "pw"), rep("org.nspasteboard.ConcealedType", "")})},
        {"marked secret", FakeOffer({rep("UTF8_STRING", "pw"), rep("x-kde-passwordManagerHint", "secret")})},
        {"Nimbrel's marker", FakeOffer({rep("UTF8_STRING", "x"), rep("org.nimbrel.internal", "\x01")})},
    };
    for (auto [name, offer] : offers) {
        SCOPED_TRACE(name);
        Capture capture;
        capture.copy(offer);
        EXPECT_FALSE(offer.asked.contains(QStringLiteral("UTF8_STRING")));
        EXPECT_TRUE(capture.records().isEmpty());
    }
    Capture capture;
    capture.copy(own);
    EXPECT_TRUE(own.asked.isEmpty());
    capture.workspace.frontmost = RunningApplication{QStringLiteral("org.nimbrel.Nimbrel"), QStringLiteral("Nimbrel")};
    FakeOffer typed = FakeOffer::text(QStringLiteral("typed in the search field"));
    capture.copy(typed);
    EXPECT_TRUE(typed.asked.isEmpty());
    capture.workspace.frontmost.reset();
    capture.copyText(QStringLiteral("no window in front"));
    ASSERT_EQ(capture.records().size(), 1);
    EXPECT_FALSE(capture.records().first().sourceAppId.has_value());
    EXPECT_TRUE(capture.console.lines.isEmpty());
}

// Paused, or with an excluded application in front, a change is not even asked for its types.
TEST(ClipboardWatcher, PausedOrExcludedChangesAreNeverRead)
{
    Capture capture;
    capture.settings.setExcludedApplications(
        {QStringLiteral(" org.keepassxc.KeePassXC.desktop "), QStringLiteral("xterm"), QStringLiteral("")});
    EXPECT_EQ(capture.settings.excludedApplications(),
              (QStringList{QStringLiteral("org.keepassxc.KeePassXC.desktop"), QStringLiteral("xterm")}));
    struct Case {
        const char* name;
        std::optional<RunningApplication> front;
        bool paused;
        bool recorded;
    };
    const Case cases[] = {
        {"desktop id, without its suffix and case", RunningApplication{QStringLiteral("org.KeePassXC.keepassxc")},
         false, false},
        {"window class", RunningApplication{QStringLiteral("org.example.Term"), {}, QStringLiteral("XTerm")}, false,
         false},
        {"a name that only contains an excluded one", RunningApplication{QStringLiteral("uxterm")}, false, true},
        {"no window in front", std::nullopt, false, true},
        {"paused", RunningApplication{QStringLiteral("org.gnome.TextEditor")}, true, false},
    };
    int records = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        capture.workspace.frontmost = c.front;
        capture.watcher.gate().setPaused(c.paused);
        FakeOffer offer = FakeOffer::text(QString::fromUtf8(c.name));
        capture.copy(offer);
        records += c.recorded;
        EXPECT_EQ(capture.records().size(), records);
        if (!c.recorded) {
            EXPECT_EQ(offer.typeReads, 0);
            EXPECT_TRUE(offer.asked.isEmpty());
        }
    }
    capture.settings.setExcludedApplications({});
    capture.workspace.frontmost = RunningApplication{QStringLiteral("org.keepassxc.KeePassXC")};
    capture.watcher.gate().setPaused(false);
    capture.copyText(QStringLiteral("no longer excluded"));
    EXPECT_EQ(capture.records().size(), records + 1);
}

TEST(ClipboardWatcher, OnlyTheNewestRecordIsComparedForRepeats)
{
    Capture capture;
    const QStringList copies = {QStringLiteral("A"),     QStringLiteral("A"),  QStringLiteral("B"),
                                QStringLiteral("A"),     QStringLiteral(" A"), QStringLiteral("e\u0301"),
                                QStringLiteral("\u00e9")};
    for (const QString& text : copies)
        capture.copyText(text);
    // A repeat is dropped; blanks make a new text; canonically equivalent forms are the same text.
    EXPECT_EQ(capture.texts(), (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("A"),
                                            QStringLiteral(" A"), QStringLiteral("e\u0301")}));
    const QByteArray first = encoded(picture(8, 4), "png");
    const QByteArray second = encoded(picture(4, 8), "png");
    for (const QByteArray& png : {first, first, second})
        capture.copy(FakeOffer({rep("image/png", png)}));
    EXPECT_EQ(capture.records().size(), 7);
}

TEST(ClipboardWatcher, AnApplicationThatExitsLeavesWhatItCopiedOnlyWhenItWasRecorded)
{
    struct Case {
        const char* name;
        std::function<void(Capture&)> steps;
        std::optional<QString> offered;  // the record put back on the clipboard, by its text
        QStringList formats = {};
    };
    FakeOffer own = FakeOffer::text(QStringLiteral("mine"));
    own.ownContent = true;
    FakeOffer unanswered = FakeOffer::text(QStringLiteral("late"));
    unanswered.statuses.insert(QStringLiteral("UTF8_STRING"), Status::timedOut);
    const QList<Case> cases = {
        {"a recorded copy, with its markup",
         [](Capture& c) {
             c.copy(FakeOffer({rep("text/plain", "bold"), rep("text/html", "<b>bold</b>")}));
         },
         QStringLiteral("bold"),
         {QStringLiteral("text/html")}},
        {"a repeat of the newest record",
         [](Capture& c) {
             for (const char* text : {"a", "b", "b"})
                 c.copyText(QString::fromLatin1(text));
         },
         QStringLiteral("b")},
        {"a password manager's secret",
         [](Capture& c) {
             c.copyText(QStringLiteral("older"));
             c.copy(FakeOffer({rep("text/plain", "hunter2"), rep("x-kde-passwordManagerHint", "secret")}));
         },
         std::nullopt},
        {"Nimbrel's own contents",
         [&own](Capture& c) {
             c.copyText(QStringLiteral("older"));
             c.copy(own);
         },
         std::nullopt},
        {"a copy that was not answered",
         [&unanswered](Capture& c) {
             c.copyText(QStringLiteral("older"));
             c.copy(unanswered);
         },
         std::nullopt},
        {"a record deleted since",
         [](Capture& c) {
             c.copyText(QStringLiteral("gone"));
             c.watcher.remove(c.records().first().id);
         },
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Capture capture;
        QList<ClipItem> offered;
        QObject::connect(&capture.watcher, &ClipboardWatcher::offerAgain,
                         [&offered](const ClipItem& item) { offered.append(item); });
        c.steps(capture);
        ASSERT_TRUE(capture.monitor.empty());
        // Whatever the writer makes of the emptying has reached the UI thread once a later change is handled.
        capture.monitor.watchPrimary(true);
        FakeOffer later = FakeOffer::text(QStringLiteral("sentinel"));
        later.statuses.insert(QStringLiteral("UTF8_STRING"), Status::superseded);
        capture.copy(later);
        if (!c.offered) {
            EXPECT_TRUE(offered.isEmpty());
            continue;
        }
        ASSERT_EQ(offered.size(), 1);
        EXPECT_EQ(offered.first().contentText, *c.offered);
        QStringList types;
        for (const auto& format : offered.first().formats)
            types.append(format.first);
        EXPECT_EQ(types, c.formats) << "offered with everything it was copied with";
    }
}

TEST(ClipboardWatcher, MouseSelectionsAreRecordedOnlyWhenAskedAndGrowIntoOneRecord)
{
    Capture capture;
    EXPECT_FALSE(capture.monitor.primaryWatched) << "off by default";
    capture.settings.setRecordPrimarySelection(true);
    EXPECT_TRUE(capture.monitor.primaryWatched);
    const auto select = [&capture](const char* text, qint64 afterMs = 1000) {
        FakeOffer offer = FakeOffer::text(QString::fromUtf8(text));
        offer.from = Selection::primary;
        capture.clock.advance(afterMs - 1000);
        capture.copy(offer);
    };
    select("hello");
    select("hello wor");
    select("hello world");
    EXPECT_EQ(capture.texts(), QStringList{QStringLiteral("hello world")}) << "a growing selection is one record";
    select("hello world again", HistoryWriter::selectionGrowthMs + 1000);
    select("unrelated");
    capture.copyText(QStringLiteral("unrelated and copied"));
    select("unrelated and copied, then selected");
    // The grown selection replaces its own record, never the copy it also contains.
    EXPECT_EQ(capture.texts(), (QStringList{QStringLiteral("hello world"), QStringLiteral("hello world again"),
                                            QStringLiteral("unrelated and copied"),
                                            QStringLiteral("unrelated and copied, then selected")}))
        << "only a selection's own record made seconds before is replaced";

    // While a password manager's secret is on the clipboard, a selection is not even read.
    capture.copy(FakeOffer({rep("text/plain", "hunter2"), rep("x-kde-passwordManagerHint", "secret")}));
    FakeOffer shown = FakeOffer::text(QStringLiteral("hunter2"));
    shown.from = Selection::primary;
    ASSERT_TRUE(capture.monitor.change(shown));
    EXPECT_EQ(shown.typeReads, 0);
    EXPECT_TRUE(shown.asked.isEmpty());
    capture.copyText(QStringLiteral("after the secret"));
    select("selected after the secret");
    EXPECT_EQ(capture.texts().last(), QStringLiteral("selected after the secret"));

    // A change held back (paused) may have been a secret: selections wait for the next change read.
    capture.watcher.gate().setPaused(true);
    capture.copyText(QStringLiteral("copied while paused"));
    capture.watcher.gate().setPaused(false);
    FakeOffer afterPause = FakeOffer::text(QStringLiteral("maybe the secret"));
    afterPause.from = Selection::primary;
    ASSERT_TRUE(capture.monitor.change(afterPause));
    EXPECT_EQ(afterPause.typeReads, 0);
    capture.copyText(QStringLiteral("read again"));

    // A selection's record that the user pinned is theirs: a growing selection leaves it.
    select("pinned selection");
    const QUuid pinned = capture.records().first().id;
    EXPECT_EQ(capture.edit([&](EditReply r) { capture.watcher.setPinned(pinned, true, r); }).status,
              EditOutcome::Status::done);
    select("pinned selection, grown");
    EXPECT_EQ(capture.texts().mid(capture.texts().size() - 2),
              (QStringList{QStringLiteral("pinned selection"), QStringLiteral("pinned selection, grown")}));

    // A selection that cannot be had is not worth a line.
    FakeOffer slow = FakeOffer::text(QStringLiteral("slow"));
    slow.from = Selection::primary;
    slow.statuses.insert(QStringLiteral("UTF8_STRING"), Status::timedOut);
    const qsizetype lines = capture.console.lines.size();
    capture.copy(slow);
    EXPECT_EQ(capture.console.lines.size(), lines);

    capture.settings.setRecordPrimarySelection(false);
    EXPECT_FALSE(capture.monitor.primaryWatched);
}

TEST(ClipboardWatcher, ImagesFromOtherFormatsBecomePng)
{
    struct Case {
        const char* name;
        QList<std::pair<QString, QByteArray>> contents;
        QSize stored;  // invalid: nothing is recorded
    };
    const QImage wide = picture(4000, 1000);
    const QList<Case> cases = {
        {"generic image is reduced to 1024", {rep("image/bmp", encoded(wide, "bmp"))}, QSize(1024, 256)},
        {"TIFF is converted at full size", {rep("image/tiff", encoded(wide, "tiff"))}, QSize(4000, 1000)},
        {"PNG stays as it is", {rep("image/png", encoded(wide, "png")), rep("image/bmp", "BM")}, QSize(4000, 1000)},
        {"odd sizes round half away from zero",
         {rep("image/jpeg", encoded(picture(2050, 1025), "jpeg"))},
         QSize(1024, 512)},
        {"small generic image keeps its size", {rep("image/bmp", encoded(picture(300, 200), "bmp"))}, QSize(300, 200)},
        {"broken PNG, sound BMP: the BMP",
         {rep("image/png", "\x89PNG\r\n"), rep("image/bmp", encoded(wide, "bmp"))},
         QSize(1024, 256)},
        {"a copied file is never taken for an image",
         {rep("text/uri-list", "file:///home/u/photo.png\n"), rep("image/bmp", encoded(wide, "bmp"))},
         QSize()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Capture capture;
        capture.copy(FakeOffer(c.contents));
        const auto records = capture.records();
        if (!c.stored.isValid()) {
            EXPECT_TRUE(records.isEmpty());
            continue;
        }
        ASSERT_EQ(records.size(), 1);
        EXPECT_EQ(pngSize(*records.first().contentImage), c.stored);
    }
}

// One copy never costs the history: what is over a quarter of the budget is refused with a line and
// prunes nothing; an owner that does not answer costs only its own copy.
TEST(ClipboardWatcher, OversizedAndUnansweredCopiesAreRefusedAlone)
{
    struct Case {
        const char* name;
        std::function<FakeOffer()> offer;
        const char* line;  // the start of the one line said; null: stored
    };
    const qint64 quarter = 25 * MiB;  // of the smallest budget, 100 MB
    const QList<Case> cases = {
        {"text over a quarter", [&] { return FakeOffer::text(QString(quarter + 1, QLatin1Char('x'))); },
         "[Nimbrel] A copy larger than"},
        {"text of exactly a quarter", [&] { return FakeOffer::text(QString(quarter, QLatin1Char('x'))); }, nullptr},
        {"types never answered",
         [] {
             FakeOffer offer = FakeOffer::text(QStringLiteral("x"));
             offer.typesStatus = Status::timedOut;
             return offer;
         },
         "[Nimbrel] The application that copied did not hand over"},
        {"data never answered",
         [] {
             FakeOffer offer = FakeOffer::text(QStringLiteral("x"));
             offer.statuses.insert(QStringLiteral("UTF8_STRING"), Status::timedOut);
             return offer;
         },
         "[Nimbrel] The application that copied did not hand over"},
        {"replaced while read",
         [] {
             FakeOffer offer = FakeOffer::text(QStringLiteral("x"));
             offer.statuses.insert(QStringLiteral("UTF8_STRING"), Status::superseded);
             return offer;
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Capture capture;
        capture.settings.setMaxStorageMB(100);
        for (int i = 0; i < 3; ++i)
            capture.copyText(QStringLiteral("earlier %1").arg(i));
        capture.copy(c.offer());
        const qsizetype expected = c.line ? 3 : 4;
        EXPECT_EQ(capture.records().size(), expected) << "earlier records all stay";
        if (c.line && *c.line) {
            ASSERT_EQ(capture.console.lines.size(), 1);
            EXPECT_TRUE(capture.console.lines.first().startsWith(QLatin1String(c.line)))
                << qPrintable(capture.console.lines.first());
        } else {
            EXPECT_TRUE(capture.console.lines.isEmpty());
        }
        capture.copyText(QStringLiteral("the next copy"));
        EXPECT_EQ(capture.texts().last(), QStringLiteral("the next copy"));
    }
}

// The budget counts what the store holds now, so a deletion in the panel spares the next record's pruning.
TEST(ClipboardWatcher, BudgetCountsTheStoreAfterAnyDeletion)
{
    for (const bool deleteFirst : {false, true}) {
        SCOPED_TRACE(deleteFirst ? "after deleting a 4 MB record" : "without a deletion");
        Capture capture;
        capture.settings.setMaxStorageMB(100);
        const QDateTime start = QDateTime::fromSecsSinceEpoch(1'600'000'000, QTimeZone::utc());
        QUuid large;
        for (int i = 0; i < 97; ++i) {
            ClipItem item = ClipItem::make(ClipKind::text, QStringLiteral("r%1").arg(i), std::nullopt, std::nullopt,
                                           std::nullopt, std::nullopt, start.addSecs(i));
            item.byteSize = i == 50 ? 4 * MiB : MiB;
            if (i == 50)
                large = item.id;
            ASSERT_TRUE(capture.store->insert(item).ok());
        }
        ASSERT_TRUE(capture.store->save().ok());
        if (deleteFirst) {
            const int before = capture.storeChanges;
            capture.watcher.remove(large);
            ASSERT_TRUE(QTest::qWaitFor([&] { return capture.storeChanges > before; }, 10'000));
        }
        capture.copyText(QStringLiteral("new"));
        const QStringList texts = capture.texts();
        EXPECT_EQ(texts.first(), deleteFirst ? QStringLiteral("r0") : QStringLiteral("r1"));
        EXPECT_EQ(capture.store->totalByteSize().value(), (deleteFirst ? 96 : 99) * MiB + 3);
    }
}

TEST(ClipboardWatcher, BusyStoreKeepsTheCopyUntilItIsFree)
{
    const QString path = test::freshDirectory() + QStringLiteral("/history.store");
    Capture capture(std::move(HistoryStore::openFile(path)).value());
    ASSERT_TRUE(capture.started);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    capture.copyText(QStringLiteral("copied while another program writes"));
    capture.copyText(QStringLiteral("and one more"));
    EXPECT_TRUE(capture.records().isEmpty());
    ASSERT_EQ(capture.console.lines.size(), 1);
    EXPECT_TRUE(capture.console.lines.first().startsWith(QLatin1String("[Nimbrel] The history store is busy")));
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    ASSERT_TRUE(QTest::qWaitFor([&] { return capture.records().size() == 2; }, 10'000));
    EXPECT_EQ(capture.texts(),
              (QStringList{QStringLiteral("copied while another program writes"), QStringLiteral("and one more")}));
}

TEST(ClipboardWatcher, ChangesAreStoredInTheOrderCopied)
{
    Capture capture;
    QStringList copied;
    for (int i = 0; i < 30; ++i) {
        copied.append(QStringLiteral("copy %1").arg(i));
        capture.clock.advance(150);
        capture.monitor.change(FakeOffer::text(copied.last()));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return capture.handled == 30; }, 10'000));
    EXPECT_EQ(capture.texts(), copied);
}

TEST(ClipboardWatcher, FailuresToStartOrSaveAreSaid)
{
    const QString path = test::freshDirectory() + QStringLiteral("/history.store");
    ASSERT_TRUE(HistoryStore::openFile(path).ok());
    Capture readOnly(std::move(HistoryStore::openReadOnly(path)).value());
    readOnly.copyText(QStringLiteral("cannot be stored"));
    ASSERT_EQ(readOnly.console.lines.size(), 1);
    EXPECT_TRUE(readOnly.console.lines.first().startsWith(QStringLiteral("[Nimbrel] save error: ")));

    Capture capture;
    capture.watcher.stop();
    capture.monitor.startError = QStringLiteral("the clipboard cannot be watched: no X11 display");
    EXPECT_FALSE(capture.watcher.start());
    EXPECT_FALSE(capture.watcher.isRunning());
    EXPECT_EQ(capture.console.lines.last(),
              QStringLiteral("[Nimbrel] the clipboard cannot be watched: no X11 display"));
}

namespace {

const char* statusName(EditOutcome::Status status)
{
    switch (status) {
        case EditOutcome::Status::done:
            return "done";
        case EditOutcome::Status::unknownRecord:
            return "unknownRecord";
        case EditOutcome::Status::failed:
            return "failed";
    }
    return "?";
}

}  // namespace

// Every edit answers on the UI thread with what became of it.
TEST(HistoryWriter, EditsReplyWithWhatBecameOfThem)
{
    using Status = EditOutcome::Status;
    struct Case {
        const char* name;
        // Returns the outcome of the edit tried on a history of "a", "bb" (pinned) and "ccc".
        std::function<EditOutcome(Capture&)> edit;
        Status status;
        QStringList left;
        QStringList pinned;
        qint64 records = 0;
        qint64 bytes = 0;
    };
    const auto idOf = [](Capture& c, const char* text) { return c.record(QString::fromLatin1(text))->id; };
    const QList<Case> cases = {
        {"delete a record",
         [&](Capture& c) { return c.edit([&](EditReply r) { c.watcher.remove(idOf(c, "a"), false, r); }); },
         Status::done,
         {QStringLiteral("bb"), QStringLiteral("ccc")},
         {QStringLiteral("bb")}},
        {"delete an unknown record",
         [](Capture& c) { return c.edit([&](EditReply r) { c.watcher.remove(QUuid::createUuid(), true, r); }); },
         Status::unknownRecord,
         {QStringLiteral("a"), QStringLiteral("bb"), QStringLiteral("ccc")},
         {QStringLiteral("bb")}},
        {"pin a record",
         [&](Capture& c) { return c.edit([&](EditReply r) { c.watcher.setPinned(idOf(c, "ccc"), true, r); }); },
         Status::done,
         {QStringLiteral("a"), QStringLiteral("bb"), QStringLiteral("ccc")},
         {QStringLiteral("bb"), QStringLiteral("ccc")}},
        {"unpin a record",
         [&](Capture& c) { return c.edit([&](EditReply r) { c.watcher.setPinned(idOf(c, "bb"), false, r); }); },
         Status::done,
         {QStringLiteral("a"), QStringLiteral("bb"), QStringLiteral("ccc")},
         {}},
        {"pin an unknown record",
         [](Capture& c) { return c.edit([&](EditReply r) { c.watcher.setPinned(QUuid::createUuid(), true, r); }); },
         Status::unknownRecord,
         {QStringLiteral("a"), QStringLiteral("bb"), QStringLiteral("ccc")},
         {QStringLiteral("bb")}},
        {"clear the unpinned records",
         [](Capture& c) { return c.edit([&](EditReply r) { c.watcher.clear(false, r); }); },
         Status::done,
         {QStringLiteral("bb")},
         {QStringLiteral("bb")},
         2,
         4},
        {"clear everything",
         [](Capture& c) { return c.edit([&](EditReply r) { c.watcher.clear(true, r); }); },
         Status::done,
         {},
         {},
         3,
         6},
        {"recording stopped",
         [](Capture& c) {
             c.watcher.stop();
             // Said at once, without waiting for anything.
             std::optional<EditOutcome> said;
             c.watcher.clear(true, [&said](const EditOutcome& outcome) { said = outcome; });
             EXPECT_TRUE(said.has_value());
             EXPECT_EQ(said.value_or(EditOutcome{}).error, QStringLiteral("recording is not running"));
             return said.value_or(EditOutcome{});
         },
         Status::failed,
         {QStringLiteral("a"), QStringLiteral("bb"), QStringLiteral("ccc")},
         {QStringLiteral("bb")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Capture capture;
        for (const char* text : {"a", "bb", "ccc"})
            capture.copyText(QString::fromLatin1(text));
        capture.sync();
        ASSERT_EQ(capture.edit([&](EditReply r) { capture.watcher.setPinned(idOf(capture, "bb"), true, r); }).status,
                  Status::done);
        const int changes = capture.storeChanges;
        const EditOutcome outcome = c.edit(capture);
        EXPECT_STREQ(statusName(outcome.status), statusName(c.status));
        EXPECT_EQ(outcome.records, c.records);
        EXPECT_EQ(outcome.bytes, c.bytes);
        EXPECT_EQ(capture.texts(), c.left);
        QStringList pinned;
        for (const ClipItem& r : capture.records()) {
            if (r.pinned)
                pinned.prepend(*r.contentText);
        }
        EXPECT_EQ(pinned, c.pinned);
        // The UI hears of every change the writer made (the reply is posted after the signal).
        EXPECT_EQ(capture.storeChanges > changes, c.status == Status::done);
    }

    // A store that refuses writes: the reply says why.
    const QString path = test::freshDirectory() + QStringLiteral("/history.store");
    QUuid id;
    {
        auto writable = std::move(HistoryStore::openFile(path)).value();
        const ClipItem item = ClipItem::make(ClipKind::text, QStringLiteral("kept"), std::nullopt, std::nullopt,
                                             std::nullopt, std::nullopt, QDateTime::currentDateTimeUtc());
        id = item.id;
        ASSERT_TRUE(writable->insert(item).ok());
        ASSERT_TRUE(writable->save().ok());
    }
    Capture readOnly(std::move(HistoryStore::openReadOnly(path)).value());
    const QList<std::function<void(EditReply)>> refused = {
        [&](EditReply r) { readOnly.watcher.remove(id, true, r); },
        [&](EditReply r) { readOnly.watcher.setPinned(id, true, r); },
        [&](EditReply r) { readOnly.watcher.clear(true, r); },
    };
    for (const auto& ask : refused) {
        const EditOutcome outcome = readOnly.edit(ask);
        EXPECT_EQ(outcome.status, Status::failed);
        EXPECT_TRUE(outcome.error.contains(QStringLiteral("read-only"))) << outcome.error.toStdString();
    }
    EXPECT_EQ(readOnly.texts(), QStringList{QStringLiteral("kept")});
}

// A deletion kept for undo comes back exactly as it was: same id, contents, formatted forms, image and
// thumbnail, pin, time and source. Only the last one is kept, and forgetting or clearing drops it.
TEST(HistoryWriter, UndoBringsBackTheLastDeletedRecordAsItWas)
{
    const QByteArray png = encoded(picture(300, 200), "png");
    const auto whole = [](Capture& c, const QString& text) {
        ClipItem item = c.record(text).value_or(ClipItem{});
        EXPECT_TRUE(c.store->loadContents(item).ok());
        item.thumbnailData = c.store->thumbnail(item.id).value();
        return item;
    };
    struct Case {
        const char* name;
        QString deleted;  // the record deleted for undo, by its text
        bool pin;
    };
    const QList<Case> cases = {
        {"a pinned text with its markup", QStringLiteral("bold"), true},
        {"an image with its thumbnail", QStringLiteral("<image>"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Capture capture;
        capture.copy(FakeOffer({rep("text/plain", "bold"), rep("text/html", "<b>bold</b>")}));
        capture.copy(FakeOffer({rep("image/png", png)}));
        capture.copyText(QStringLiteral("plain"));
        const QUuid id = capture.record(c.deleted)->id;
        if (c.pin)
            capture.watcher.setPinned(id, true);
        capture.sync();
        const ClipItem before = whole(capture, c.deleted);
        ASSERT_EQ(before.pinned, c.pin);
        ASSERT_TRUE(before.thumbnailData.has_value() || !before.formats.isEmpty());

        ASSERT_EQ(capture.edit([&](EditReply r) { capture.watcher.remove(id, true, r); }).status,
                  EditOutcome::Status::done);
        ASSERT_FALSE(capture.record(c.deleted));
        capture.watcher.undoRemove();
        capture.sync();
        const ClipItem after = whole(capture, c.deleted);
        EXPECT_EQ(after.id, before.id);
        EXPECT_EQ(after.kindRaw, before.kindRaw);
        EXPECT_EQ(after.contentText, before.contentText);
        EXPECT_EQ(after.contentImage, before.contentImage);
        EXPECT_EQ(after.thumbnailData, before.thumbnailData);
        EXPECT_EQ(after.formats, before.formats);
        EXPECT_EQ(after.pinned, before.pinned);
        EXPECT_EQ(after.createdAt, before.createdAt);
        EXPECT_EQ(after.sourceAppId, before.sourceAppId);
        EXPECT_EQ(after.sourceName, before.sourceName);
        EXPECT_EQ(after.byteSize, before.byteSize);
        EXPECT_EQ(capture.texts(),
                  (QStringList{QStringLiteral("bold"), QStringLiteral("<image>"), QStringLiteral("plain")}));
    }

    struct Sequence {
        const char* name;
        std::function<void(Capture&, const QUuid& bold, const QUuid& plain)> steps;
        QStringList left;
    };
    const QList<Sequence> sequences = {
        {"only the last deletion is kept",
         [](Capture& c, const QUuid& bold, const QUuid& plain) {
             c.watcher.remove(bold, true);
             c.watcher.remove(plain, true);
             c.watcher.undoRemove();
             c.watcher.undoRemove();
         },
         {QStringLiteral("plain")}},
        {"a deletion not kept for undo leaves the kept one",
         [](Capture& c, const QUuid& bold, const QUuid& plain) {
             c.watcher.remove(bold, true);
             c.watcher.remove(plain);
             c.watcher.undoRemove();
         },
         {QStringLiteral("bold")}},
        {"forgotten",
         [](Capture& c, const QUuid& bold, const QUuid&) {
             c.watcher.remove(bold, true);
             c.watcher.forgetRemoved();
             c.watcher.undoRemove();
         },
         {QStringLiteral("plain")}},
        {"forgotten after the undo",
         [](Capture& c, const QUuid& bold, const QUuid&) {
             c.watcher.remove(bold, true);
             c.watcher.undoRemove();
             c.watcher.forgetRemoved();
         },
         {QStringLiteral("bold"), QStringLiteral("plain")}},
        {"a clear leaves nothing to undo",
         [](Capture& c, const QUuid& bold, const QUuid& plain) {
             c.watcher.setPinned(plain, true);
             c.watcher.remove(bold, true);
             c.watcher.clear(false, {});
             c.watcher.undoRemove();
         },
         {QStringLiteral("plain")}},
    };
    for (const Sequence& s : sequences) {
        SCOPED_TRACE(s.name);
        Capture capture;
        capture.copyText(QStringLiteral("bold"));
        capture.copyText(QStringLiteral("plain"));
        s.steps(capture, capture.record(QStringLiteral("bold"))->id, capture.record(QStringLiteral("plain"))->id);
        capture.sync();
        EXPECT_EQ(capture.texts(), s.left);
    }
}

// Captures and edits are made in the order asked, also when they all wait for a store another program
// holds: each one sees the history the ones before it left.
TEST(HistoryWriter, EditsKeepTheirOrderBehindABusyStore)
{
    const QString path = test::freshDirectory() + QStringLiteral("/history.store");
    Capture capture(std::move(HistoryStore::openFile(path)).value());
    ASSERT_TRUE(capture.started);
    capture.copyText(QStringLiteral("x"));
    capture.copyText(QStringLiteral("y"));
    const QUuid x = capture.record(QStringLiteral("x"))->id;

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    QStringList replies;
    const auto note = [&replies](const char* what) {
        return [&replies, what](const EditOutcome& outcome) {
            replies.append(QStringLiteral("%1 %2 %3")
                               .arg(QString::fromLatin1(what), QString::fromLatin1(statusName(outcome.status)))
                               .arg(outcome.records));
        };
    };
    capture.copyText(QStringLiteral("first"));
    capture.watcher.remove(x, true, note("remove"));
    capture.watcher.undoRemove();
    capture.watcher.setPinned(x, true, note("pin"));
    capture.watcher.clear(false, note("clear"));
    capture.copyText(QStringLiteral("last"));
    capture.watcher.setPinned(x, false, note("unpin"));
    EXPECT_EQ(capture.texts(), (QStringList{QStringLiteral("x"), QStringLiteral("y")}));
    EXPECT_TRUE(replies.isEmpty());
    ASSERT_FALSE(capture.console.lines.isEmpty());
    EXPECT_TRUE(capture.console.lines.first().startsWith(QLatin1String("[Nimbrel] The history store is busy")));

    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    ASSERT_TRUE(QTest::qWaitFor([&] { return replies.size() == 4; }, 20'000));
    EXPECT_EQ(replies, (QStringList{QStringLiteral("remove done 0"), QStringLiteral("pin done 0"),
                                    QStringLiteral("clear done 2"), QStringLiteral("unpin done 0")}));
    EXPECT_EQ(capture.texts(), (QStringList{QStringLiteral("x"), QStringLiteral("last")}));
    EXPECT_FALSE(capture.record(QStringLiteral("x"))->pinned);
}

// After a clear the writer gives the space back at once, or, while a reader holds the WAL, shortly after;
// if the reader never lets go, it says so.
TEST(HistoryWriter, AClearGivesItsSpaceBackOnceReadersLetGo)
{
    for (const bool readerStays : {false, true}) {
        SCOPED_TRACE(readerStays ? "the reader stays" : "the reader lets go");
        const QString path = test::freshDirectory() + QStringLiteral("/history.store");
        Capture capture(std::move(HistoryStore::openFile(path)).value());
        const QByteArray secret = "correct-horse-battery-staple-" + QByteArray(50'000, 'z');
        capture.copyText(QString::fromLatin1(secret));
        const QString wal = path + QStringLiteral("-wal");
        const auto fileHolds = [&path, &wal](const QByteArray& bytes) {
            QFile store(path);
            QFile journal(wal);
            return (store.open(QIODevice::ReadOnly) && store.readAll().contains(bytes)) ||
                   (journal.open(QIODevice::ReadOnly) && journal.readAll().contains(bytes));
        };
        ASSERT_TRUE(fileHolds("correct-horse"));

        sqlite3* reader = nullptr;
        ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(path).constData(), &reader, SQLITE_OPEN_READONLY, nullptr),
                  SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM clip", nullptr, nullptr, nullptr), SQLITE_OK);
        const EditOutcome outcome = capture.edit([&](EditReply r) { capture.watcher.clear(true, r); });
        EXPECT_EQ(outcome.status, EditOutcome::Status::done);
        EXPECT_EQ(outcome.records, 1);
        EXPECT_GT(QFileInfo(wal).size(), 0) << "the reader keeps the WAL";
        if (readerStays) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return capture.console.lines.size() == 1; }, 20'000));
            EXPECT_EQ(capture.console.lines.first(),
                      QStringLiteral("[Nimbrel] The space of the cleared records could not be given back yet: "
                                     "another program keeps reading the history store"));
        }
        sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(reader);
        if (readerStays) {
            // Given back with the next clear.
            capture.edit([&](EditReply r) { capture.watcher.clear(true, r); });
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(wal).size() == 0; }, 20'000));
        EXPECT_FALSE(fileHolds("correct-horse"));
        EXPECT_EQ(capture.console.lines.size(), readerStays ? 1 : 0);
    }
}
