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

namespace {

struct Outcome {
    int status = 0;
    QString out;
    QString err;
};

Outcome run(const QStringList& arguments, const QString& path, const Clock& clock)
{
    Outcome r;
    QTextStream out(&r.out);
    QTextStream err(&r.err);
    r.status = runHistoryCommand(QStringList{QStringLiteral("--history")} + arguments, path, clock, out, err);
    out.flush();
    err.flush();
    return r;
}

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

struct History {
    History() : path(test::freshDirectory() + QStringLiteral("/Nimbrel.store"))
    {
        auto store = std::move(HistoryStore::openFile(path)).value();
        const QDateTime t0 = clock.now().addSecs(-7200);
        const auto add = [&](ClipItem item) { EXPECT_TRUE(store->insert(item).ok()); };
        add(ClipItem::make(ClipKind::text, QStringLiteral("  first line\nsecond\tline  "), std::nullopt, std::nullopt,
                           QStringLiteral("org.gnome.TextEditor"), QStringLiteral("Text Editor"), t0));
        add(ClipItem::make(ClipKind::image, std::nullopt, png(40, 30), std::nullopt, std::nullopt, std::nullopt,
                           t0.addSecs(3600)));
        add(ClipItem::make(ClipKind::link, QStringLiteral("https://example.org/"), std::nullopt, std::nullopt,
                           QStringLiteral("firefox"), std::nullopt, t0.addSecs(7170)));
        EXPECT_TRUE(store->save().ok());
    }
    fake::ManualClock clock;
    QString path;
};

}  // namespace

TEST(HistoryCommand, JsonListsTheNewestRecordsExactly)
{
    History history;
    const Outcome r = run({QStringLiteral("--json")}, history.path, history.clock);
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QJsonArray array = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(array.size(), 3);
    const QJsonObject link = array[0].toObject();
    EXPECT_EQ(link[QStringLiteral("kind")].toString(), QStringLiteral("link"));
    EXPECT_EQ(link[QStringLiteral("text")].toString(), QStringLiteral("https://example.org/"));
    EXPECT_EQ(link[QStringLiteral("sourceBundleID")].toString(), QStringLiteral("firefox"));
    EXPECT_TRUE(link[QStringLiteral("sourceName")].isNull());
    EXPECT_EQ(link[QStringLiteral("createdAt")].toString(),
              history.clock.now().addSecs(-30).toUTC().toString(Qt::ISODateWithMs));
    EXPECT_TRUE(link[QStringLiteral("createdAt")].toString().endsWith(QLatin1Char('Z')));
    const QJsonObject image = array[1].toObject();
    EXPECT_FALSE(image.contains(QStringLiteral("text")));
    EXPECT_EQ(image[QStringLiteral("imageWidth")].toInt(), 40);
    EXPECT_EQ(image[QStringLiteral("imageHeight")].toInt(), 30);
    EXPECT_EQ(image[QStringLiteral("byteSize")].toInteger(), png(40, 30).size());
    const QJsonObject text = array[2].toObject();
    EXPECT_EQ(text[QStringLiteral("text")].toString(), QStringLiteral("  first line\nsecond\tline  ")) << "untrimmed";
    EXPECT_EQ(QUuid::fromString(text[QStringLiteral("id")].toString()).isNull(), false);
}

TEST(HistoryCommand, PlainFormIsOneLinePerRecord)
{
    History history;
    const Outcome r = run({QStringLiteral("--limit"), QStringLiteral("2")}, history.path, history.clock);
    ASSERT_EQ(r.status, 0);
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("link\t30 s ago\t20 bytes\tfirefox\thttps://example.org/"));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("image\t1 h ago\t")));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("\t-\t[image 40×30]")));
    const Outcome all = run({}, history.path, history.clock);
    EXPECT_TRUE(all.out.contains(QStringLiteral("\tText Editor\tfirst line ⏎ second line\n")));
}

TEST(HistoryCommand, BadArgumentsAndMissingStoresSayWhy)
{
    History history;
    struct Case {
        QStringList arguments;
        QString path;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{QStringLiteral("--limit"), QStringLiteral("0")}, history.path, 2, "--limit"},
        {{QStringLiteral("--limit"), QStringLiteral("ten")}, history.path, 2, "--limit"},
        {{QStringLiteral("--limit")}, history.path, 2, "usage"},
        {{QStringLiteral("--yaml")}, history.path, 2, "usage"},
        {{QStringLiteral("--search")}, history.path, 2, "usage"},
        {{QStringLiteral("--kind"), QStringLiteral("rtf")}, history.path, 2, "--kind"},
        {{}, history.path + QStringLiteral(".missing"), 1, "no history store"},
    };
    for (const Case& c : cases) {
        const Outcome r = run(c.arguments, c.path, history.clock);
        EXPECT_EQ(r.status, c.status) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String(c.message))) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
}

// The panel's search and kind filter, newest first, with the limit applied to the matches.
TEST(HistoryCommand, SearchAndKindSelectTheRecords)
{
    History history;
    struct Case {
        QStringList arguments;
        QStringList kinds;  // of the lines printed, in order
    };
    const Case cases[] = {
        {{QStringLiteral("--search"), QStringLiteral("LINE")}, {QStringLiteral("text")}},
        {{QStringLiteral("--search"), QStringLiteral("  EXAMPLE.ORG ")}, {QStringLiteral("link")}},
        {{QStringLiteral("--search"), QStringLiteral("e")}, {QStringLiteral("link"), QStringLiteral("text")}},
        {{QStringLiteral("--search"), QStringLiteral("e"), QStringLiteral("--limit"), QStringLiteral("1")},
         {QStringLiteral("link")}},
        {{QStringLiteral("--search"), QStringLiteral("text editor")}, {QStringLiteral("text")}},
        {{QStringLiteral("--search"), QStringLiteral("nowhere")}, {}},
        {{QStringLiteral("--kind"), QStringLiteral("image")}, {QStringLiteral("image")}},
        {{QStringLiteral("--kind"), QStringLiteral("link"), QStringLiteral("--search"), QStringLiteral("line")}, {}},
        {{QStringLiteral("--search"), QString()}, {QStringLiteral("link"), QStringLiteral("image"), QStringLiteral("text")}},
    };
    for (const Case& c : cases) {
        const Outcome r = run(c.arguments, history.path, history.clock);
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        QStringList kinds;
        for (const QString& line : r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            kinds.append(line.section(QLatin1Char('\t'), 0, 0));
        EXPECT_EQ(kinds, c.kinds) << c.arguments.join(' ').toStdString();
    }
}
