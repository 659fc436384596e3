#include "platform/linux/JsonFileDefaults.h"
#include "support/TestEnvironment.h"
#include "support/fake/FakePlatform.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace nimbrel;
using test::readFile;
using test::writeFile;

TEST(JsonFileDefaults, ValuesAreWrittenSoonAndKeepTheirTypesAcrossARestart)
{
    const QString path = test::freshDirectory() + QStringLiteral("/Nimbrel/defaults.json");
    fake::RecordingConsole console;
    {
        native::JsonFileDefaults defaults(path, console);
        defaults.setString("s", "300");
        defaults.setInteger("i", 300);
        defaults.setBool("b", false);
        defaults.setStringList("l", {"zh-Hant"});
        defaults.removeObject("gone");
        EXPECT_FALSE(QFile::exists(path)) << "the write waits for the event loop";
        QCoreApplication::processEvents();
        ASSERT_TRUE(QFile::exists(path));
    }
    native::JsonFileDefaults reloaded(path, console);
    EXPECT_EQ(reloaded.string("s"), QStringLiteral("300"));
    EXPECT_EQ(reloaded.integer("i"), 300);
    EXPECT_FALSE(reloaded.integer("s").has_value() || reloaded.string("i").has_value());
    EXPECT_EQ(reloaded.object("b").typeId(), QMetaType::Bool);
    EXPECT_EQ(reloaded.stringList("l"), QStringList{"zh-Hant"});
    EXPECT_TRUE(!reloaded.object("missing").isValid() && console.lines.isEmpty());
    EXPECT_EQ(QFile::permissions(path) & 0x0077, 0) << "only the owner may read the defaults";

    // JSON has one number type: whole numbers come back as integers, as far as a double keeps them exactly.
    const auto values = native::parseDefaultsFile(
        R"({"i": 300, "big": 9007199254740992, "f": 0.5, "mixed": [1, "a"], "o": {"k": 1}, "n": null})");
    const std::pair<const char*, int> types[] = {{"i", QMetaType::LongLong},    {"big", QMetaType::Double},
                                                 {"f", QMetaType::Double},      {"mixed", QMetaType::QVariantList},
                                                 {"o", QMetaType::QVariantMap}, {"n", QMetaType::UnknownType}};
    for (const auto& [key, type] : types)
        EXPECT_EQ(native::defaultsValue(values.value().value(QLatin1String(key))).typeId(), type) << key;
}

TEST(JsonFileDefaults, UnparsableFileIsKeptAsideAndDefaultsApply)
{
    const QByteArray contents[] = {QByteArrayLiteral("{\"Nimbrel.maxStorageMB\": 3"), QByteArrayLiteral("[1, 2, 3]"),
                                   QByteArray("\x00\xff\xfe garbage", 12)};
    for (const QByteArray& content : contents) {
        SCOPED_TRACE(content.toHex().toStdString());
        const QString path = test::freshDirectory() + QStringLiteral("/defaults.json");
        test::writeFile(path, content);
        fake::RecordingConsole console;
        native::JsonFileDefaults defaults(path, console);
        EXPECT_FALSE(defaults.object(QStringLiteral("Nimbrel.maxStorageMB")).isValid());
        EXPECT_EQ(readFile(path + QStringLiteral(".bad")), content);
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_TRUE(console.lines.size() == 1 && console.lines[0].contains(QStringLiteral("defaults.json.bad")));

        defaults.setBool("x", true);
        ASSERT_TRUE(defaults.synchronize());
        EXPECT_EQ(readFile(path + QStringLiteral(".bad")), content) << "the kept copy survives the next write";
    }
}

TEST(JsonFileDefaults, AnEditByHandWhileRunningIsTakenInAndNotWrittenOver)
{
    // Each version differs in size from the one before, so it is told apart even within one clock tick.
    const QString path = test::freshDirectory() + QStringLiteral("/defaults.json");
    test::writeFile(path, R"({"a": 1})");
    fake::RecordingConsole console;
    native::JsonFileDefaults defaults(path, console);
    EXPECT_EQ(defaults.integer("a"), 1);

    writeFile(path, R"({"a": 22, "b": "x"})");
    EXPECT_EQ(defaults.integer("a"), 22) << "read at the next read";

    defaults.setBool("c", true);
    defaults.removeObject("b");
    writeFile(path, R"({"a": 333, "b": "y"})");
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(QJsonDocument::fromJson(readFile(path)).object(), QJsonObject({{"a", 333}, {"c", true}}))
        << "an edit between a change and its write is kept, and the change too";

    const QByteArray halfWritten = R"({"a": 4444)";
    writeFile(path, halfWritten);
    EXPECT_EQ(defaults.integer("a"), 333) << "the values in use stay";
    defaults.setBool("d", true);
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_EQ(readFile(path), halfWritten) << "an edit that does not parse is not written over";
    EXPECT_TRUE(console.lines.size() == 1 && console.lines[0].contains(QStringLiteral("cannot be read")))
        << "reported once";

    writeFile(path, R"({"a": 55555})");
    EXPECT_EQ(defaults.integer("a"), 55555) << "read once it parses";
    EXPECT_TRUE(defaults.boolean("d")) << "the change made meanwhile is kept";
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(QJsonDocument::fromJson(readFile(path)).object(), QJsonObject({{"a", 55555}, {"d", true}}));
}

TEST(JsonFileDefaults, FailedWriteIsReportedOnceAndNotCalledSuccess)
{
    // A file where the folder should be: the write cannot succeed, whoever runs the test.
    const QString root = test::freshDirectory();
    writeFile(root + QStringLiteral("/blocker"), "file");
    fake::RecordingConsole console;
    native::JsonFileDefaults defaults(root + QStringLiteral("/blocker/defaults.json"), console);
    for (const char* key : {"a", "b"}) {
        defaults.setBool(key, true);
        EXPECT_FALSE(defaults.synchronize());
    }
    EXPECT_EQ(console.lines.size(), 1);
}
