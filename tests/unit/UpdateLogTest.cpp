#include "UpdateTestSupport.h"

#include "support/fake/FakePlatform.h"
#include "update/UpdateLog.h"

#include <QTimeZone>

#include <gtest/gtest.h>

#include <cmath>

using namespace nimbrel;
using namespace nimbrel::test;

TEST(UpdateLog, EncodesCompactlyInFieldOrder)
{
    EXPECT_EQ(encodeUpdateLog({"success", std::nullopt, 788918400}),
              QByteArray(R"({"result":"success","timestamp":788918400})"));
    EXPECT_EQ(encodeUpdateLog({"replaceFailed", QStringLiteral("installFailed"), 788918400.25}),
              QByteArray(R"({"result":"replaceFailed","note":"installFailed","timestamp":788918400.25})"));
    // Text that needs escaping comes back unchanged.
    const UpdateLog awkward{"signatureInvalid", QStringLiteral("/tmp/a \"b\"\\c\n/Nimbrel.app"), -1.5};
    EXPECT_EQ(decodeUpdateLog(encodeUpdateLog(awkward)), awkward);
}

TEST(UpdateLog, TimestampCountsFromTheReferenceDate)
{
    EXPECT_EQ(secondsSinceEpoch(QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc())), 0.0);
    EXPECT_EQ(
        secondsSinceEpoch(QDateTime::fromSecsSinceEpoch(978'307'200 + 90, QTimeZone::utc()).addMSecs(500)),
        90.5);
    EXPECT_EQ(secondsSinceEpoch(QDateTime(QDate(2000, 12, 31), QTime(23, 59), QTimeZone::utc())), -60.0);
}

struct DecodeCase {
    const char* name;
    const char* json;
    std::optional<UpdateLog> expected;
};

class UpdateLogDecoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(UpdateLogDecoding, AcceptsOnlyRecords)
{
    EXPECT_EQ(decodeUpdateLog(QByteArray(GetParam().json)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UpdateLogDecoding,
    ::testing::Values(
        DecodeCase{"KeysInAnyOrder", R"({"timestamp":1.5,"note":"pid=7","result":"timeoutWaitingForExit"})",
                   UpdateLog{"timeoutWaitingForExit", QStringLiteral("pid=7"), 1.5}},
        DecodeCase{"WithoutNote", R"({"result":"success","timestamp":0})", UpdateLog{"success", std::nullopt, 0}},
        DecodeCase{"NullNote", R"({"result":"x","note":null,"timestamp":2})", UpdateLog{"x", std::nullopt, 2}},
        DecodeCase{"ExtraKeysIgnored", R"({"result":"x","timestamp":2,"more":[1]})", UpdateLog{"x", std::nullopt, 2}},
        DecodeCase{"MissingResult", R"({"timestamp":2})", std::nullopt},
        DecodeCase{"MissingTimestamp", R"({"result":"x"})", std::nullopt},
        DecodeCase{"ResultNotText", R"({"result":3,"timestamp":2})", std::nullopt},
        DecodeCase{"TimestampAsText", R"({"result":"x","timestamp":"2"})", std::nullopt},
        DecodeCase{"NoteNotText", R"({"result":"x","note":5,"timestamp":2})", std::nullopt},
        DecodeCase{"NotAnObject", R"(["result","x"])", std::nullopt},
        DecodeCase{"InvalidJson", R"({"result":"x",)", std::nullopt}, DecodeCase{"Empty", "", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WriteUpdateLog, CreatesTheFolderAndReplacesTheRecordAtomically)
{
    const QString folder = freshDirectory() + QStringLiteral("/Nimbrel/Update");
    const QString path = folder + QStringLiteral("/apply.json");
    ASSERT_TRUE(writeUpdateLog(folder, {"replaceFailed", QStringLiteral("backupFailed"), 1}));
    const QByteArray first = readFile(path);
    EXPECT_EQ(decodeUpdateLog(first), (UpdateLog{"replaceFailed", QStringLiteral("backupFailed"), 1}));

    // A reader holding the old file keeps reading the whole old record: the new one is renamed into
    // place, never written over the old bytes.
    QFile reader(path);
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
    ASSERT_TRUE(writeUpdateLog(folder, {"success", std::nullopt, 2}));
    EXPECT_EQ(reader.readAll(), first);
    EXPECT_EQ(decodeUpdateLog(readFile(path)), (UpdateLog{"success", std::nullopt, 2}));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("apply.json")})
        << "no temporary file is left behind";
}

TEST(WriteUpdateLog, WritesNothingForATimestampJsonCannotHold)
{
    const QString folder = freshDirectory();
    EXPECT_FALSE(writeUpdateLog(folder, {"success", std::nullopt, std::nan("")}));
    EXPECT_FALSE(exists(folder + QStringLiteral("/apply.json")));
}

struct ReportCase {
    const char* name;
    std::optional<QByteArray> file;
    QStringList lines;
    bool fileStays;
};

class ReportLastApplyResult : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ReportLastApplyResult, LogsFailuresOnceAndKeepsWhatItCannotRead)
{
    const QString folder = freshDirectory();
    const QString path = folder + QStringLiteral("/apply.json");
    if (GetParam().file)
        writeFile(path, *GetParam().file);
    fake::RecordingSystemLog log;
    reportLastApplyResult(folder, log);
    EXPECT_EQ(log.lines, GetParam().lines);
    EXPECT_EQ(exists(path), GetParam().fileStays);

    // Consumed records are reported once only.
    log.lines.clear();
    reportLastApplyResult(folder, log);
    if (!GetParam().fileStays) {
        EXPECT_TRUE(log.lines.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReportLastApplyResult,
    ::testing::Values(
        ReportCase{"NoRecord", std::nullopt, {}, false},
        ReportCase{"SuccessIsDeletedSilently", R"({"result":"success","timestamp":1})", {}, false},
        ReportCase{"FailureWithNote",
                   R"({"timestamp":1,"result":"replaceFailed","note":"installFailed"})",
                   {QStringLiteral("[Nimbrel] 上次自动更新未生效（replaceFailed）：installFailed")},
                   false},
        ReportCase{"FailureWithoutNote",
                   R"({"result":"timeoutWaitingForExit","timestamp":1})",
                   {QStringLiteral("[Nimbrel] 上次自动更新未生效（timeoutWaitingForExit）：")},
                   false},
        ReportCase{"ResultIsComparedExactly",
                   R"({"result":"Success","timestamp":1})",
                   {QStringLiteral("[Nimbrel] 上次自动更新未生效（Success）：")},
                   false},
        ReportCase{"InvalidJsonStays", "{not json", {}, true},
        ReportCase{"WrongTypesStay", R"({"result":"success","timestamp":"yesterday"})", {}, true},
        ReportCase{"OversizedStays", QByteArray(2 * 1024 * 1024, ' ') + R"({"result":"x","timestamp":1})", {}, true}),
    [](const auto& info) { return std::string(info.param.name); });
