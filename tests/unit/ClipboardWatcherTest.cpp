#include "history/ClipboardWatcher.h"
#include "history/HistoryStore.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakePlatform.h"
#include "settings/SettingsStore.h"
#include "settings/Translations.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

#include <gtest/gtest.h>

using namespace nimbrel;
using Contents = fake::FakePasteboard::Contents;

namespace {

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

std::pair<QString, QByteArray> rep(const char* type, const QByteArray& bytes) { return {QString::fromLatin1(type), bytes}; }

struct Capture {
    Capture()
        : translations(QString()),
          settings(defaults, loginItems, console, translations),
          store(std::move(HistoryStore::openInMemory()).value()),
          watcher(pasteboard, workspace, *store, settings, console, clock)
    {
        workspace.frontmost = RunningApplication{QStringLiteral("org.gnome.TextEditor"), QStringLiteral("Text Editor")};
    }

    // Another application copies; the next tick sees it.
    void copy(Contents contents)
    {
        pasteboard.set(std::move(contents));
        clock.advance(1000);
        watcher.poll();
    }
    void copyText(const QString& text) { copy({{rep("text/plain", text.toUtf8())}, std::nullopt}); }

    QList<ClipItem> records()
    {
        FetchDescriptor newestFirst;
        newestFirst.sortByCreatedAt = SortOrder::descending;
        newestFirst.includeImages = true;
        return store->fetch(newestFirst).value();
    }

    fake::MemoryDefaults defaults;
    fake::LoginItems loginItems;
    fake::RecordingConsole console;
    fake::ManualClock clock;
    fake::FakePasteboard pasteboard;
    fake::FakeWorkspace workspace;
    Translations translations;
    SettingsStore settings;
    std::unique_ptr<HistoryStore> store;
    ClipboardWatcher watcher;
};

}  // namespace

TEST(ClipboardWatcher, ContentsDecideTheRecord)
{
    struct Case {
        const char* name;
        Contents contents;
        std::optional<ClipKind> kind;  // none: nothing is recorded
        QString text;
    };
    const QByteArray png = encoded(picture(8, 4), "png");
    const QList<Case> cases = {
        {"plain text", {{rep("text/plain", "  hello \n")}, {}}, ClipKind::text, QStringLiteral("  hello \n")},
        {"colour", {{rep("text/plain", "#FFF")}, {}}, ClipKind::color, QStringLiteral("#FFF")},
        {"web address as text", {{rep("text/plain", "https://a.example/x")}, {}}, ClipKind::link,
         QStringLiteral("https://a.example/x")},
        {"address object and text",
         {{rep("text/uri-list", "https://a.example/p?q=1\r\n"), rep("text/plain", "A page")}, {}},
         ClipKind::link,
         QStringLiteral("https://a.example/p?q=1")},
        {"several addresses: the first",
         {{rep("text/uri-list", "# comment\nhttps://one.example/\nhttps://two.example/\n")}, {}},
         ClipKind::link,
         QStringLiteral("https://one.example/")},
        {"a copied file with its name as text",
         {{rep("text/uri-list", "file:///home/u/a.txt\n"), rep("text/plain", "a.txt")}, {}},
         std::nullopt,
         {}},
        {"PNG and an address: the image", {{rep("image/png", png), rep("text/uri-list", "https://a.example/\n")}, {}},
         ClipKind::image, {}},
        {"no PNG under image/png, and text: the text", {{rep("image/png", "not a picture"), rep("text/plain", "caption")}, {}},
         ClipKind::text, QStringLiteral("caption")},
        {"a PNG cut short: nothing", {{rep("image/png", png.left(png.size() / 2))}, {}}, std::nullopt, {}},
        {"only RTF", {{rep("text/rtf", "{\\rtf1\\ansi{\\fonttbl\\f0 Helvetica;}\\f0 #ABC}")}, {}}, ClipKind::color,
         QStringLiteral("#ABC")},
        {"empty text", {{rep("text/plain", "")}, {}}, std::nullopt, {}},
        {"nothing readable", {{rep("application/x-unknown", "zz")}, {}}, std::nullopt, {}},
        {"Nimbrel's own paste", {{rep("text/plain", "mine"), rep("org.nimbrel.internal", "\x01")}, {}}, std::nullopt, {}},
        {"password manager secret",
         {{rep("text/plain", "hunter2"), rep("x-kde-passwordManagerHint", "secret")}, {}},
         std::nullopt,
         {}},
        {"concealed type", {{rep("text/plain", "hunter2"), rep("org.nspasteboard.ConcealedType", "")}, {}}, std::nullopt, {}},
        {"transient type", {{rep("text/plain", "otp"), rep("org.nspasteboard.TransientType", "")}, {}}, std::nullopt, {}},
        {"a hint that is not secret", {{rep("text/plain", "ok"), rep("x-kde-passwordManagerHint", "other")}, {}},
         ClipKind::text, QStringLiteral("ok")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Capture capture;
        capture.copy(c.contents);
        const auto records = capture.records();
        EXPECT_EQ(capture.watcher.lastChangeCount(), capture.pasteboard.changeCount()) << "the change is consumed";
        if (!c.kind) {
            EXPECT_TRUE(records.isEmpty());
            continue;
        }
        ASSERT_EQ(records.size(), 1);
        const ClipItem& r = records.first();
        EXPECT_EQ(r.kind(), *c.kind);
        EXPECT_EQ(r.sourceBundleID, QStringLiteral("org.gnome.TextEditor"));
        EXPECT_EQ(r.sourceName, QStringLiteral("Text Editor"));
        EXPECT_EQ(r.createdAt, capture.clock.now());
        if (*c.kind == ClipKind::image) {
            EXPECT_EQ(r.contentImage, png) << "PNG data is stored unchanged";
            EXPECT_FALSE(r.contentText.has_value());
            EXPECT_EQ(r.byteSize, png.size());
            EXPECT_TRUE(capture.store->thumbnail(r.id).value().has_value());
        } else {
            EXPECT_EQ(r.contentText, c.text);
            EXPECT_EQ(r.byteSize, c.text.toUtf8().size());
        }
    }
}

TEST(ClipboardWatcher, OnlyTheNewestRecordIsComparedForRepeats)
{
    Capture capture;
    const QStringList copies = {QStringLiteral("A"), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("A"),
                                QStringLiteral(" A"), QStringLiteral("e\u0301"), QStringLiteral("\u00e9")};
    for (const QString& text : copies)
        capture.copyText(text);
    QStringList stored;
    for (const ClipItem& r : capture.records())
        stored.prepend(*r.contentText);
    // A repeat is dropped; blanks make a new text; canonically equivalent forms are the same text.
    EXPECT_EQ(stored, (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("A"), QStringLiteral(" A"),
                                   QStringLiteral("e\u0301")}));
}

TEST(ClipboardWatcher, ARepeatedImageIsDroppedAndADifferentOneKept)
{
    Capture capture;
    const QByteArray first = encoded(picture(8, 4), "png");
    const QByteArray second = encoded(picture(4, 8), "png");
    for (const QByteArray& png : {first, first, second})
        capture.copy({{rep("image/png", png)}, {}});
    EXPECT_EQ(capture.records().size(), 2);
}

TEST(ClipboardWatcher, ImagesFromOtherFormatsBecomePng)
{
    struct Case {
        const char* name;
        Contents contents;
        QSize stored;
    };
    const QImage wide = picture(4000, 1000);
    const QList<Case> cases = {
        {"generic image is reduced to 1024", {{rep("image/bmp", "BM…")}, wide}, QSize(1024, 256)},
        {"TIFF is converted at full size", {{rep("image/tiff", encoded(wide, "tiff"))}, {}}, QSize(4000, 1000)},
        {"PNG stays as it is", {{rep("image/png", encoded(wide, "png"))}, wide}, QSize(4000, 1000)},
        {"odd sizes round half away from zero", {{rep("image/bmp", "")}, picture(2050, 1025)}, QSize(1024, 512)},
        {"small generic image keeps its size", {{rep("image/bmp", "")}, picture(300, 200)}, QSize(300, 200)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Capture capture;
        capture.copy(c.contents);
        const auto records = capture.records();
        ASSERT_EQ(records.size(), 1);
        EXPECT_EQ(pngSize(*records.first().contentImage), c.stored);
    }
}

TEST(ClipboardWatcher, ACopiedFileIsNeverTakenForAnImage)
{
    Capture capture;
    capture.copy({{rep("text/uri-list", "file:///home/u/photo.png\n")}, picture(64, 64)});
    EXPECT_TRUE(capture.records().isEmpty());
}

TEST(ClipboardWatcher, ChangesMadeWhileNimbrelIsInFrontAreSkipped)
{
    Capture capture;
    capture.workspace.frontmost = RunningApplication{QStringLiteral("org.nimbrel.Nimbrel"), QStringLiteral("Nimbrel")};
    capture.copyText(QStringLiteral("typed in the search field"));
    EXPECT_TRUE(capture.records().isEmpty());

    capture.workspace.frontmost = RunningApplication{QStringLiteral("org.gnome.TextEditor"), std::nullopt};
    capture.pasteboard.ownContent = true;
    capture.copyText(QStringLiteral("copied in the panel's search field"));
    EXPECT_TRUE(capture.records().isEmpty());
    capture.pasteboard.ownContent = false;

    capture.workspace.frontmost.reset();
    capture.copyText(QStringLiteral("no window in front"));
    ASSERT_EQ(capture.records().size(), 1);
    EXPECT_FALSE(capture.records().first().sourceBundleID.has_value());
    EXPECT_FALSE(capture.records().first().sourceName.has_value());
}

TEST(ClipboardWatcher, ContentsPresentAtStartAndIdleTicksAreNotRead)
{
    Capture capture;
    capture.pasteboard.setText(QStringLiteral("there at creation"));
    // A watcher made now starts from the present counter.
    ClipboardWatcher watcher(capture.pasteboard, capture.workspace, *capture.store, capture.settings, capture.console,
                             capture.clock);
    capture.pasteboard.reads = 0;
    for (int i = 0; i < 10; ++i)
        watcher.poll();
    EXPECT_EQ(capture.pasteboard.reads, 0) << "an idle tick reads only the counter";
    EXPECT_TRUE(capture.records().isEmpty());
}

TEST(ClipboardWatcher, SaveErrorIsReportedAndCaptureGoesOn)
{
    const QString path = QDir::temp().filePath(QStringLiteral("nimbrel-watcher-%1.store").arg(QUuid::createUuid().toString(QUuid::Id128)));
    { auto created = HistoryStore::openFile(path); ASSERT_TRUE(created.ok()); }
    Capture capture;
    auto readOnly = std::move(HistoryStore::openReadOnly(path)).value();
    ClipboardWatcher watcher(capture.pasteboard, capture.workspace, *readOnly, capture.settings, capture.console,
                             capture.clock);
    capture.pasteboard.setText(QStringLiteral("cannot be stored"));
    watcher.poll();
    ASSERT_EQ(capture.console.lines.size(), 1);
    EXPECT_TRUE(capture.console.lines.first().startsWith(QStringLiteral("[Nimbrel] save error: ")));
    EXPECT_GT(capture.console.lines.first().size(), QStringLiteral("[Nimbrel] save error: ").size());
    QFile::remove(path);
}

TEST(ClipboardWatcher, StartAndStopDriveThePollTimer)
{
    Capture capture;
    EXPECT_FALSE(capture.watcher.isRunning());
    capture.watcher.start();
    EXPECT_TRUE(capture.watcher.isRunning());
    capture.watcher.stop();
    EXPECT_FALSE(capture.watcher.isRunning());
}
