#include "history/HistoryStore.h"
#include "shell/HistoryCommand.h"
#include "support/TestEnvironment.h"
#include "support/fake/FakePlatform.h"

#include <QTextStream>

#include <gtest/gtest.h>

using namespace nimbrel;
using namespace Qt::StringLiterals;

// The JSON listing, the kinds and the accent-blind search are proven end to end (test_capture.py,
// test_panel.py); here the one-line form, the arguments, and what a bad one or a missing store gives.
TEST(HistoryCommand, ArgumentsSelectTheRecordsOrSayWhatIsWrong)
{
    fake::ManualClock clock;
    const QString path = test::freshDirectory() + u"/Nimbrel.store"_s;
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::blue);
    const QByteArray png = test::encoded(image);
    {
        auto store = std::move(HistoryStore::openFile(path)).value();
        const QDateTime t0 = clock.now().addSecs(-7200);
        for (const ClipItem& item :
             {ClipItem::make(ClipKind::text, u"  first line\nsecond\tline  "_s, {}, {}, {}, u"Text Editor"_s, t0),
              ClipItem::make(ClipKind::image, {}, png, {}, {}, {}, t0.addSecs(3600)),
              ClipItem::make(ClipKind::link, u"https://example.org/"_s, {}, {}, u"firefox"_s, {}, t0.addSecs(7170))})
            ASSERT_TRUE(store->insert(item).ok());
        ASSERT_TRUE(store->save().ok());
    }
    const auto run = [&](const char* arguments, const QString& at) {
        QString out, err;
        QTextStream o(&out), e(&err);
        // "_" stands for a blank, '' for an empty argument.
        const QStringList list = QString::fromUtf8(arguments)
                                     .split(u' ', Qt::SkipEmptyParts)
                                     .replaceInStrings(u"_"_s, u" "_s)
                                     .replaceInStrings(u"''"_s, QString());
        const int status = runHistoryCommand(QStringList{u"--history"_s} + list, at, clock, o, e);
        o.flush(), e.flush();
        return std::tuple(status, out, err);
    };
    const auto [listed, lines, noError] = run("", path);
    EXPECT_EQ(listed, 0) << noError.toStdString();
    EXPECT_EQ(lines.split(u'\n', Qt::SkipEmptyParts),
              (QStringList{u"link\t30 s ago\t20 bytes\tfirefox\thttps://example.org/"_s,
                           u"image\t1 h ago\t%1 bytes\t-\t[image 40×30]"_s.arg(png.size()),
                           u"text\t2 h ago\t26 bytes\tText Editor\tfirst line ⏎ second line"_s}));
    struct Case {
        const char* arguments;
        const char* kinds;  // of the lines printed, in order
        int status = 0;
        const char* message = "";
    };
    // clang-format off
    const Case cases[] = {
        {"--search LINE", "text"}, {"--search __EXAMPLE.ORG_", "link"}, {"--search e", "link text"},
        {"--search e --limit 1", "link"}, {"--search text_editor", "text"}, {"--search nowhere", ""},
        {"--kind image", "image"}, {"--kind link --search line", ""}, {"--search ''", "link image text"},
        {"--limit 0", "", 2, "--limit"}, {"--limit ten", "", 2, "--limit"}, {"--limit", "", 2, "usage"},
        {"--yaml", "", 2, "usage"}, {"--search", "", 2, "usage"}, {"--kind rtf", "", 2, "--kind"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const auto [status, out, err] = run(c.arguments, path);
        EXPECT_EQ(status, c.status);
        EXPECT_TRUE(err.contains(QLatin1String(c.message))) << err.toStdString();
        QStringList kinds;
        for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts))
            kinds.append(line.section(u'\t', 0, 0));
        EXPECT_EQ(kinds.join(u' '), QLatin1String(c.kinds));
    }
    const auto [missing, nothing, why] = run("", path + u".missing"_s);
    EXPECT_EQ(missing, 1);
    EXPECT_TRUE(why.contains(u"no history store"_s) && nothing.isEmpty()) << why.toStdString();
}
