#include "settings/Translations.h"

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
        {{"fr-FR", "ja-JP", "en-US"}, "ja"}, {{"zh-CN", "en"}, "zh-Hans"}, {{"de", "fr"}, "en"}, {{}, "en"}};
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
}

}  // namespace
}  // namespace nimbrel
