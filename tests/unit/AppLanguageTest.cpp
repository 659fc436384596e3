#include "settings/Translations.h"

#include "nimbrel/Version.h"

#include <QCoreApplication>
#include <QDir>

#include <gtest/gtest.h>

namespace nimbrel {
namespace {

TEST(TranslationsTest, LanguageTagsMapToTableCodes)
{
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"zh-Hant", "zh-Hant"}, {"zh-TW", "zh-Hant"}, {"zh-HK", "zh-Hant"}, {"zh-MO", "zh-Hant"},
        {"zh_TW.UTF-8", "zh-Hant"}, {"zh-Hant-CN", "zh-Hant"}, {"zh-Hans-HK", "zh-Hans"}, {"zh", "zh-Hans"},
        {"zh-CN", "zh-Hans"}, {"zh-SG", "zh-Hans"}, {"zh_CN.GB2312", "zh-Hans"}, {"en", "en"}, {"en-GB", "en"},
        {"en_US.UTF-8", "en"}, {"en_US@euro", "en"}, {"ja-JP", "ja"}, {"ko_KR", "ko"}, {"fr-FR", ""}, {"C", ""},
        {"POSIX", ""}, {"und", ""}, {"", ""}, {"eng", ""}, {"jav", ""}};
    // clang-format on
    for (const auto& [tag, code] : cases)
        EXPECT_EQ(Translations::supportedCode(QString::fromUtf8(tag)), QString::fromUtf8(code)) << tag;
}

TEST(TranslationsTest, MainLanguageIsTheFirstPreferredLanguageWithATable)
{
    const std::pair<QStringList, QString> cases[] = {
        {{QStringLiteral("fr-FR"), QStringLiteral("ja-JP"), QStringLiteral("en-US")}, QStringLiteral("ja")},
        {{QStringLiteral("zh-CN"), QStringLiteral("en")}, QStringLiteral("zh-Hans")},
        {{QStringLiteral("de"), QStringLiteral("fr")}, QStringLiteral("en")},
        {{}, QStringLiteral("en")}};
    for (const auto& [preferred, expected] : cases) {
        Translations translations(Translations::defaultDirectory());
        EXPECT_EQ(translations.selectMainLanguage(preferred), expected) << preferred.join(u',').toStdString();
        EXPECT_EQ(translations.mainLanguage(), expected);
    }

    // A language whose table is missing is passed over.
    Translations none(QDir::tempPath() + QStringLiteral("/no-such-nimbrel-tables"));
    EXPECT_EQ(none.selectMainLanguage({QStringLiteral("ja"), QStringLiteral("zh-Hans")}), QStringLiteral("zh-Hans"));
    EXPECT_EQ(none.translateMain(QStringLiteral("设置")), QStringLiteral("设置"));
}

TEST(TranslationsTest, OnlyTableCodesReachTheDisk)
{
    Translations translations(Translations::defaultDirectory());
    // zh-Hans is the key language and ships no table; names that are not codes never reach the disk.
    for (const char* code : {"zh-Hans", "fr", "", "../translations/nimbrel_en", "en/../en"}) {
        EXPECT_FALSE(translations.hasTable(QString::fromUtf8(code))) << code;
        EXPECT_EQ(translations.translate(QString::fromUtf8(code), QStringLiteral("设置")), std::nullopt) << code;
    }
    EXPECT_EQ(translations.translate(QStringLiteral("en"), QStringLiteral("不存在的条目")),
              QStringLiteral("不存在的条目"));
}

TEST(TranslationsTest, InstalledMainTableServesTheApplicationUntilDestroyed)
{
    const QString key = QStringLiteral("弹出剪切板");
    const auto appTranslation = [&] {
        return QCoreApplication::translate(translationContext, key.toUtf8().constData());
    };
    {
        Translations translations(Translations::defaultDirectory());
        translations.selectMainLanguage({QStringLiteral("ja_JP.UTF-8")});
        translations.installMain();
        EXPECT_EQ(appTranslation(), QStringLiteral("クリップボードを表示"));
    }
    EXPECT_EQ(appTranslation(), key);

    Translations simplified(Translations::defaultDirectory());
    simplified.selectMainLanguage({QStringLiteral("zh-CN")});
    simplified.installMain();
    EXPECT_EQ(appTranslation(), key);
}

TEST(TranslationsTest, DefaultDirectoryPrefersTheEnvironmentThenTheInstalledTree)
{
    const QByteArray saved = qgetenv("NIMBREL_TRANSLATIONS_DIR");
    qputenv("NIMBREL_TRANSLATIONS_DIR", "/opt/elsewhere/tables");
    EXPECT_EQ(Translations::defaultDirectory(), QStringLiteral("/opt/elsewhere/tables"));

    qunsetenv("NIMBREL_TRANSLATIONS_DIR");
    const QString binDir = QCoreApplication::applicationDirPath();
    const QString buildTree = QDir::cleanPath(binDir + QStringLiteral("/../translations"));
    EXPECT_EQ(Translations::defaultDirectory(),
              QDir(buildTree).exists()
                  ? buildTree
                  : QDir::cleanPath(binDir + QStringLiteral("/../") + QLatin1String(build::translationsInstallDir)));
    qputenv("NIMBREL_TRANSLATIONS_DIR", saved);
}

}  // namespace
}  // namespace nimbrel
