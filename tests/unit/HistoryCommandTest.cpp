#include "history/HistoryStore.h"
#include "support/fake/FakePlatform.h"
#include "shell/HistoryCommand.h"
#include "support/TestEnvironment.h"

#include <QBuffer>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <gtest/gtest.h>

using namespace nimbrel;
using namespace Qt::StringLiterals;

namespace {

struct Outcome {
    int status = 0;
    QString out;
    QString err;
};

QByteArray png(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return bytes;
}

// A text, an image an hour later and a link 30 s ago.
struct History {
    History()
    {
        auto store = std::move(HistoryStore::openFile(path)).value();
        const QDateTime t0 = clock.now().addSecs(-7200);
        const QList<ClipItem> items{
            ClipItem::make(ClipKind::text, u"  first line\nsecond\tline  "_s, {}, {}, u"org.gnome.TextEditor"_s,
                           u"Text Editor"_s, t0),
            ClipItem::make(ClipKind::image, {}, png(40, 30), {}, {}, {}, t0.addSecs(3600)),
            ClipItem::make(ClipKind::link, u"https://example.org/"_s, {}, {}, u"firefox"_s, {}, t0.addSecs(7170))};
        for (const ClipItem& item : items)
            EXPECT_TRUE(store->insert(item).ok());
        EXPECT_TRUE(store->save().ok());
    }
    Outcome run(const char* arguments, const QString& at = {})
    {
        Outcome r;
        QTextStream out(&r.out);
        QTextStream err(&r.err);
        const QStringList list = QString::fromUtf8(arguments)
                                     .split(u' ', Qt::SkipEmptyParts)
                                     .replaceInStrings(u"_"_s, u" "_s)
                                     .replaceInStrings(u"''"_s, QString());
        r.status = runHistoryCommand(QStringList{QStringLiteral("--history")} + list, at.isEmpty() ? path : at, clock,
                                     out, err);
        out.flush();
        err.flush();
        return r;
    }
    fake::ManualClock clock;
    QString path = test::freshDirectory() + QStringLiteral("/Nimbrel.store");
};

}  // namespace

TEST(HistoryCommand, ListsTheNewestRecordsExactlyAsJsonOrOneLineEach)
{
    History history;
    const Outcome json = history.run("--json");
    ASSERT_EQ(json.status, 0) << json.err.toStdString();
    const QJsonArray array = QJsonDocument::fromJson(json.out.toUtf8()).array();
    ASSERT_EQ(array.size(), 3);
    const QJsonObject link = array[0].toObject();
    EXPECT_EQ(link[u"kind"].toString(), QStringLiteral("link"));
    EXPECT_EQ(link[u"text"].toString(), QStringLiteral("https://example.org/"));
    EXPECT_EQ(link[u"sourceBundleID"].toString(), QStringLiteral("firefox"));
    EXPECT_TRUE(link[u"sourceName"].isNull());
    EXPECT_EQ(link[u"createdAt"].toString(), history.clock.now().addSecs(-30).toUTC().toString(Qt::ISODateWithMs));
    EXPECT_TRUE(link[u"createdAt"].toString().endsWith(u'Z'));
    const QJsonObject image = array[1].toObject();
    EXPECT_FALSE(image.contains(u"text"));
    EXPECT_EQ(image[u"imageWidth"].toInt(), 40);
    EXPECT_EQ(image[u"imageHeight"].toInt(), 30);
    EXPECT_EQ(image[u"byteSize"].toInteger(), png(40, 30).size());
    const QJsonObject text = array[2].toObject();
    EXPECT_EQ(text[u"text"].toString(), QStringLiteral("  first line\nsecond\tline  ")) << "untrimmed";
    EXPECT_FALSE(QUuid::fromString(text[u"id"].toString()).isNull());

    const QStringList lines = history.run("--limit 2").out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("link\t30 s ago\t20 bytes\tfirefox\thttps://example.org/"));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("image\t1 h ago\t")));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("\t-\t[image 40×30]")));
    EXPECT_TRUE(history.run("").out.contains(QStringLiteral("\tText Editor\tfirst line ⏎ second line\n")));
}

// The panel's search and kind filter, newest first, with the limit applied to the matches; bad arguments
// and a missing store say why.
TEST(HistoryCommand, ArgumentsSelectTheRecordsOrSayWhatIsWrong)
{
    History history;
    struct Case {
        const char* arguments;  // "_" stands for a blank, '' for an empty argument
        const char* kinds;      // of the lines printed, in order
        int status = 0;
        const char* message = "";
    };
    // clang-format off
    const Case cases[] = {
        {"--search LINE", "text"},
        {"--search __EXAMPLE.ORG_", "link"},
        {"--search e", "link text"},
        {"--search e --limit 1", "link"},
        {"--search text_editor", "text"},
        {"--search nowhere", ""},
        {"--kind image", "image"},
        {"--kind link --search line", ""},
        {"--search ''", "link image text"},
        {"--limit 0", "", 2, "--limit"},
        {"--limit ten", "", 2, "--limit"},
        {"--limit", "", 2, "usage"},
        {"--yaml", "", 2, "usage"},
        {"--search", "", 2, "usage"},
        {"--kind rtf", "", 2, "--kind"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Outcome r = history.run(c.arguments);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(r.err.contains(QLatin1String(c.message))) << r.err.toStdString();
        QStringList kinds;
        for (const QString& line : r.out.split(u'\n', Qt::SkipEmptyParts))
            kinds.append(line.section(u'\t', 0, 0));
        EXPECT_EQ(kinds.join(u' '), QLatin1String(c.kinds));
    }
    const Outcome missing = history.run("", history.path + QStringLiteral(".missing"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains(QStringLiteral("no history store")));
    EXPECT_TRUE(missing.out.isEmpty());
}
