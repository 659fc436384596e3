#include "support/fake/FakePlatform.h"
#include "platform/linux/JsonFileDefaults.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace nimbrel;

namespace {

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return path;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

}  // namespace

TEST(JsonFileDefaults, ValuesKeepTheirTypesAcrossARestart)
{
    const QString path = test::freshDirectory() + QStringLiteral("/Nimbrel/defaults.json");
    fake::RecordingConsole console;
    {
        native::JsonFileDefaults defaults(path, console);
        defaults.setString(QStringLiteral("s"), QStringLiteral("300"));
        defaults.setInteger(QStringLiteral("i"), 300);
        defaults.setBool(QStringLiteral("b"), false);
        defaults.setStringList(QStringLiteral("l"), {QStringLiteral("zh-Hant")});
        defaults.setString(QStringLiteral("json"), QStringLiteral("{\"carbonKeyCode\":9}"));
        ASSERT_TRUE(defaults.synchronize());
    }
    native::JsonFileDefaults reloaded(path, console);
    EXPECT_EQ(reloaded.string(QStringLiteral("s")), QStringLiteral("300"));
    EXPECT_FALSE(reloaded.integer(QStringLiteral("s")).has_value());
    EXPECT_EQ(reloaded.integer(QStringLiteral("i")), 300);
    EXPECT_FALSE(reloaded.string(QStringLiteral("i")).has_value());
    EXPECT_EQ(reloaded.object(QStringLiteral("b")).typeId(), QMetaType::Bool);
    EXPECT_FALSE(reloaded.boolean(QStringLiteral("b")));
    EXPECT_EQ(reloaded.stringList(QStringLiteral("l")), QStringList{QStringLiteral("zh-Hant")});
    EXPECT_EQ(reloaded.string(QStringLiteral("json")), QStringLiteral("{\"carbonKeyCode\":9}"));
    EXPECT_FALSE(reloaded.object(QStringLiteral("missing")).isValid());
    EXPECT_TRUE(console.lines.isEmpty());
    EXPECT_EQ(QFile::permissions(path) & 0x0077, 0) << "only the owner may read the defaults";
}

TEST(JsonFileDefaults, WritesSoonWithoutSynchronize)
{
    const QString path = test::freshDirectory() + QStringLiteral("/defaults.json");
    fake::RecordingConsole console;
    native::JsonFileDefaults defaults(path, console);
    defaults.setBool(QStringLiteral("a"), true);
    defaults.removeObject(QStringLiteral("b"));
    EXPECT_FALSE(QFile::exists(path)) << "the write waits for the event loop";
    QCoreApplication::processEvents();
    ASSERT_TRUE(QFile::exists(path));
    EXPECT_EQ(QJsonDocument::fromJson(readFile(path)).object().value(QStringLiteral("a")).toBool(), true);
}

TEST(JsonFileDefaults, UnparsableFileIsKeptAsideAndDefaultsApply)
{
    struct Case {
        const char* name;
        QByteArray content;
    };
    const Case cases[] = {
        {"truncated", QByteArrayLiteral("{\"Nimbrel.maxStorageMB\": 3")},
        {"not an object", QByteArrayLiteral("[1, 2, 3]")},
        {"binary", QByteArray("\x00\xff\xfe garbage", 12)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = writeFile(test::freshDirectory() + QStringLiteral("/defaults.json"), c.content);
        fake::RecordingConsole console;
        native::JsonFileDefaults defaults(path, console);
        EXPECT_FALSE(defaults.object(QStringLiteral("Nimbrel.maxStorageMB")).isValid());
        EXPECT_EQ(readFile(path + QStringLiteral(".bad")), c.content);
        EXPECT_FALSE(QFile::exists(path));
        ASSERT_EQ(console.lines.size(), 1);
        EXPECT_TRUE(console.lines.first().contains(QStringLiteral("defaults.json.bad")));

        defaults.setBool(QStringLiteral("x"), true);
        ASSERT_TRUE(defaults.synchronize());
        EXPECT_EQ(readFile(path + QStringLiteral(".bad")), c.content) << "the kept copy survives the next write";
    }
}

TEST(JsonFileDefaults, AnEditByHandWhileRunningIsTakenInAndNotWrittenOver)
{
    // Each version differs in size from the one before, so it is told apart even within one clock tick.
    const QString path = writeFile(test::freshDirectory() + QStringLiteral("/defaults.json"), R"({"a": 1})");
    fake::RecordingConsole console;
    native::JsonFileDefaults defaults(path, console);
    EXPECT_EQ(defaults.integer(QStringLiteral("a")), 1);

    writeFile(path, R"({"a": 22, "b": "x"})");
    EXPECT_EQ(defaults.integer(QStringLiteral("a")), 22) << "read at the next read";

    defaults.setBool(QStringLiteral("c"), true);
    defaults.removeObject(QStringLiteral("b"));
    writeFile(path, R"({"a": 333, "b": "y"})");
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(QJsonDocument::fromJson(readFile(path)).object(), QJsonObject({{"a", 333}, {"c", true}}))
        << "an edit between a change and its write is kept, and the change too";

    const QByteArray halfWritten = R"({"a": 4444)";
    writeFile(path, halfWritten);
    EXPECT_EQ(defaults.integer(QStringLiteral("a")), 333) << "the values in use stay";
    defaults.setBool(QStringLiteral("d"), true);
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_EQ(readFile(path), halfWritten) << "an edit that does not parse is not written over";
    EXPECT_EQ(defaults.integer(QStringLiteral("a")), 333);
    ASSERT_EQ(console.lines.size(), 1) << "reported once";
    EXPECT_TRUE(console.lines.first().contains(QStringLiteral("cannot be read")));

    writeFile(path, R"({"a": 55555})");
    EXPECT_EQ(defaults.integer(QStringLiteral("a")), 55555) << "read once it parses";
    EXPECT_TRUE(defaults.boolean(QStringLiteral("d"))) << "the change made meanwhile is kept";
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(QJsonDocument::fromJson(readFile(path)).object(), QJsonObject({{"a", 55555}, {"d", true}}));
    EXPECT_EQ(console.lines.size(), 1);
}

TEST(JsonFileDefaults, FailedWriteIsReportedOnceAndNotCalledSuccess)
{
    // A file where the folder should be: the write cannot succeed, whoever runs the test.
    const QString root = test::freshDirectory();
    writeFile(root + QStringLiteral("/blocker"), "file");
    fake::RecordingConsole console;
    native::JsonFileDefaults defaults(root + QStringLiteral("/blocker/defaults.json"), console);
    defaults.setBool(QStringLiteral("a"), true);
    EXPECT_FALSE(defaults.synchronize());
    defaults.setBool(QStringLiteral("b"), true);
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_EQ(console.lines.size(), 1);
}

TEST(JsonFileDefaults, FileBytesParseToAnObjectOrAReason)
{
    const auto values = native::parseDefaultsFile(QByteArrayLiteral(R"({"a": 1, "b": "x"})"));
    ASSERT_TRUE(values);
    EXPECT_EQ(values->keys(), QStringList({QStringLiteral("a"), QStringLiteral("b")}));

    struct Case {
        const char* name;
        QByteArray content;
        QString reason;
    };
    const Case cases[] = {
        {"truncated", QByteArrayLiteral("{\"a\": 3"), QString()},
        {"empty", QByteArray(), QString()},
        {"not an object", QByteArrayLiteral("[1, 2, 3]"), QStringLiteral("not a JSON object")},
        {"a bare string", QByteArrayLiteral("\"x\""), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto parsed = native::parseDefaultsFile(c.content);
        ASSERT_FALSE(parsed);
        EXPECT_FALSE(parsed.error().description.isEmpty());
        if (!c.reason.isEmpty()) {
            EXPECT_EQ(parsed.error().description, c.reason);
        }
    }
}

TEST(JsonFileDefaults, StoredValuesReadBackWithTheirTypes)
{
    const auto values = native::parseDefaultsFile(
        QByteArrayLiteral(R"({"i": 300, "big": 9007199254740992, "f": 0.5, "s": "300", "b": false, "l": ["zh-Hant"],)"
                          R"( "mixed": [1, "a"], "o": {"k": 1}, "n": null})"));
    ASSERT_TRUE(values);
    const auto value = [&](const char* key) { return native::defaultsValue(values->value(QLatin1String(key))); };
    EXPECT_EQ(value("i").typeId(), QMetaType::LongLong);
    EXPECT_EQ(value("i").toLongLong(), 300);
    EXPECT_EQ(value("big").typeId(), QMetaType::Double) << "2^53 is past the whole numbers a double keeps exactly";
    EXPECT_EQ(value("f").typeId(), QMetaType::Double);
    EXPECT_EQ(value("s").typeId(), QMetaType::QString);
    EXPECT_EQ(value("b").typeId(), QMetaType::Bool);
    EXPECT_EQ(value("l").toStringList(), QStringList{QStringLiteral("zh-Hant")});
    EXPECT_EQ(value("l").typeId(), QMetaType::QStringList);
    EXPECT_EQ(value("mixed").typeId(), QMetaType::QVariantList);
    EXPECT_EQ(value("o").typeId(), QMetaType::QVariantMap);
    EXPECT_FALSE(value("n").isValid());
    EXPECT_FALSE(value("absent").isValid());
}
