#include "platform/linux/XdgAutostart.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QTextStream>

#include <gtest/gtest.h>

using namespace nimbrel;

namespace {

void writeEntry(const QString& path, const QString& text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Text));
    QTextStream(&file) << text;
}

QString readEntry(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly | QIODevice::Text);
    return QString::fromUtf8(file.readAll());
}

}  // namespace

TEST(XdgAutostart, RegisterWritesAnEnabledEntryAndUnregisterRemovesIt)
{
    const QString dir = test::freshDirectory() + QStringLiteral("/autostart");
    native::XdgAutostart autostart(dir, QStringLiteral("/opt/Nimbrel.app/bin/nimbrel"));
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);
    ASSERT_TRUE(autostart.registerItem().ok());
    EXPECT_EQ(autostart.status(), LoginItemStatus::enabled);
    const QString entry = readEntry(autostart.entryPath());
    EXPECT_TRUE(entry.startsWith(QStringLiteral("[Desktop Entry]\n")));
    EXPECT_TRUE(entry.contains(QStringLiteral("\nExec=/opt/Nimbrel.app/bin/nimbrel\n")));
    ASSERT_TRUE(autostart.unregisterItem().ok());
    EXPECT_EQ(autostart.status(), LoginItemStatus::notRegistered);
    EXPECT_TRUE(autostart.unregisterItem().ok()) << "removing an absent entry is not a failure";
}

TEST(XdgAutostart, SwitchedOffEntriesAreNotEnabled)
{
    struct Case {
        const char* text;
        LoginItemStatus expected;
    };
    const Case cases[] = {
        {"[Desktop Entry]\nType=Application\nExec=nimbrel\n", LoginItemStatus::enabled},
        {"[Desktop Entry]\nHidden=true\nExec=nimbrel\n", LoginItemStatus::notRegistered},
        {"[Desktop Entry]\nHidden=false\n", LoginItemStatus::enabled},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", LoginItemStatus::notRegistered},
        {"[Desktop Entry]\nExec=nimbrel\n[Desktop Action x]\nHidden=true\n", LoginItemStatus::enabled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const QString dir = test::freshDirectory();
        native::XdgAutostart autostart(dir, QStringLiteral("nimbrel"));
        writeEntry(autostart.entryPath(), QString::fromUtf8(c.text));
        EXPECT_EQ(autostart.status(), c.expected);
    }
}

TEST(XdgAutostart, RegisterFailsWithADescriptionWhenTheFolderCannotBeMade)
{
    const QString root = test::freshDirectory();
    writeEntry(root + QStringLiteral("/autostart"), QStringLiteral("a file, not a folder"));
    native::XdgAutostart autostart(root + QStringLiteral("/autostart"), QStringLiteral("nimbrel"));
    const auto result = autostart.registerItem();
    ASSERT_FALSE(result.ok());
    EXPECT_FALSE(result.error().description.isEmpty());
}

TEST(XdgAutostart, ExecValueQuotesReservedCharacters)
{
    struct Case {
        QString path;
        QString exec;
    };
    const Case cases[] = {
        {QStringLiteral("/usr/bin/nimbrel"), QStringLiteral("/usr/bin/nimbrel")},
        {QStringLiteral("/home/a b/nimbrel"), QStringLiteral("\"/home/a b/nimbrel\"")},
        {QStringLiteral("/x/$HOME/n"), QStringLiteral("\"/x/\\\\$HOME/n\"")},
        {QStringLiteral("/x/100%/n"), QStringLiteral("/x/100%%/n")},
        {QStringLiteral("/x/a\"b"), QStringLiteral("\"/x/a\\\\\"b\"")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(native::XdgAutostart::execValue(c.path), c.exec) << c.path.toStdString();
}
