#include "UpdateTestSupport.h"

#include "support/fake/FakePlatform.h"
#include "update/UpdateLog.h"

#include <QTimeZone>

#include <gtest/gtest.h>

#include <cmath>

using namespace nimbrel;
using namespace nimbrel::test;

TEST(UpdateLog, EncodesCompactlyAndDecodesOnlyRecords)
{
    EXPECT_EQ(encodeUpdateLog({"success", std::nullopt, 788918400}), R"({"result":"success","timestamp":788918400})");
    EXPECT_EQ(encodeUpdateLog({"replaceFailed", QStringLiteral("installFailed"), 788918400.25}),
              QByteArray(R"({"result":"replaceFailed","note":"installFailed","timestamp":788918400.25})"));
    const UpdateLog awkward{"signatureInvalid", QStringLiteral("/tmp/a \"b\"\\c\n/Nimbrel.app"), -1.5};
    EXPECT_EQ(decodeUpdateLog(encodeUpdateLog(awkward)), awkward);
    EXPECT_EQ(secondsSinceEpoch(QDateTime(QDate(1970, 1, 1), QTime(0, 0), QTimeZone::utc()).addMSecs(90'500)), 90.5);
    // A record an older build wrote, counted from 2001, still reads.
    EXPECT_EQ(decodeUpdateLog(R"({"result":"success","timestamp":788918400})")->timestamp, 788918400);

    EXPECT_EQ(decodeUpdateLog(R"({"timestamp":1.5,"note":null,"result":"x","more":[1]})"),
              (UpdateLog{"x", std::nullopt, 1.5}));
    for (const char* json : {R"({"timestamp":2})", R"({"result":"x"})", R"({"result":3,"timestamp":2})",
                             R"({"result":"x","timestamp":"2"})", R"({"result":"x","note":5,"timestamp":2})",
                             R"(["result","x"])", R"({"result":"x",)", ""})
        EXPECT_EQ(decodeUpdateLog(json), std::nullopt) << json;
}

TEST(UpdateLog, WrittenAtomicallyIntoANewFolderAndNeverWithAnUnwritableTimestamp)
{
    const QString folder = freshDirectory() + QStringLiteral("/Nimbrel/Update");
    const QString path = folder + QStringLiteral("/apply.json");
    ASSERT_TRUE(writeUpdateLog(folder, {"replaceFailed", QStringLiteral("backupFailed"), 1}));
    const QByteArray first = readFile(path);
    // A reader holding the old file keeps reading the whole old record: the new one is renamed into place.
    QFile reader(path);
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
    ASSERT_TRUE(writeUpdateLog(folder, {"success", std::nullopt, 2}));
    EXPECT_EQ(reader.readAll(), first);
    EXPECT_EQ(decodeUpdateLog(readFile(path)), (UpdateLog{"success", std::nullopt, 2}));
    EXPECT_EQ(names(folder), QStringList{QStringLiteral("apply.json")}) << "no temporary file is left behind";

    QFile::remove(path);
    EXPECT_FALSE(writeUpdateLog(folder, {"success", std::nullopt, std::nan("")}));
    EXPECT_FALSE(exists(path));
}

TEST(UpdateLog, TheLastResultIsReportedOnceAndWhatCannotBeReadStays)
{
    const QString failed = QStringLiteral("[Nimbrel] 上次自动更新未生效（");
    const std::tuple<std::optional<QByteArray>, QStringList, bool> cases[] = {
        // the record, the lines it gives, whether it stays
        {std::nullopt, {}, false},
        {R"({"result":"success","timestamp":1})", {}, false},
        {R"({"timestamp":1,"result":"replaceFailed","note":"installFailed"})",
         {failed + "replaceFailed）：installFailed"},
         false},
        {R"({"result":"Success","timestamp":1})", {failed + "Success）："}, false},
        {"{not json", {}, true},
        {R"({"result":"success","timestamp":"yesterday"})", {}, true},
        {QByteArray(2 * 1024 * 1024, ' ') + R"({"result":"x","timestamp":1})", {}, true},
    };
    for (const auto& [file, lines, stays] : cases) {
        SCOPED_TRACE(file.value_or("(none)").left(60).constData());
        const QString folder = freshDirectory();
        if (file)
            writeFile(folder + QStringLiteral("/apply.json"), *file);
        fake::RecordingSystemLog log;
        reportLastApplyResult(folder, log);
        EXPECT_EQ(log.lines, lines);
        EXPECT_EQ(exists(folder + QStringLiteral("/apply.json")), stays);
        reportLastApplyResult(folder, log);
        EXPECT_EQ(log.lines, lines) << "reported once";
    }
}
