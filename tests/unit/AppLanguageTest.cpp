#include "settings/AppLanguage.h"
#include "settings/PanelMode.h"
#include "settings/Translations.h"

#include <QCoreApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace nimbrel {
namespace {

TEST(AppLanguageTest, RawValuesRoundTripInPickerOrder)
{
    const QStringList expected{QStringLiteral("system"), QStringLiteral("zh-Hans"), QStringLiteral("zh-Hant"),
                               QStringLiteral("en"),     QStringLiteral("ja"),      QStringLiteral("ko")};
    QStringList raws;
    for (const AppLanguage language : allAppLanguages) {
        raws.append(rawValue(language));
        EXPECT_EQ(appLanguageFromRaw(rawValue(language)), language);
    }
    EXPECT_EQ(raws, expected);

    for (const char* unknown : {"", "fr", "System", "zh_Hant", "zh-hant", "en-US", " ja"})
        EXPECT_EQ(appLanguageFromRaw(QString::fromUtf8(unknown)), std::nullopt) << unknown;
}

TEST(AppLanguageTest, PanelModeRawValuesRoundTrip)
{
    QStringList raws;
    for (const PanelMode mode : allPanelModes) {
        raws.append(rawValue(mode));
        EXPECT_EQ(panelModeFromRaw(rawValue(mode)), mode);
    }
    EXPECT_EQ(raws, (QStringList{QStringLiteral("bottom"), QStringLiteral("left"), QStringLiteral("right")}));
    for (const char* unknown : {"", "Bottom", "top", "left "})
        EXPECT_EQ(panelModeFromRaw(QString::fromUtf8(unknown)), std::nullopt) << unknown;
}

TEST(AppLanguageTest, PickerNamesAreShownInTheirOwnLanguageExceptSystem)
{
    const std::vector<std::tuple<AppLanguage, QString, bool>> cases{
        {AppLanguage::system, QStringLiteral("跟随系统"), true},
        {AppLanguage::zhHans, QStringLiteral("简体中文"), false},
        {AppLanguage::zhHant, QStringLiteral("繁體中文"), false},
        {AppLanguage::en, QStringLiteral("English"), false},
        {AppLanguage::ja, QStringLiteral("日本語"), false},
        {AppLanguage::ko, QStringLiteral("한국어"), false},
    };
    for (const auto& [language, name, translated] : cases) {
        EXPECT_EQ(pickerName(language), name);
        EXPECT_EQ(isPickerNameTranslated(language), translated) << name.toStdString();
    }
}

TEST(TranslationsTest, LanguageTagsMapToTableCodes)
{
    const std::vector<std::pair<const char*, const char*>> cases{
        {"zh-Hant", "zh-Hant"},
        {"zh-TW", "zh-Hant"},
        {"zh-HK", "zh-Hant"},
        {"zh-MO", "zh-Hant"},
        {"zh_TW.UTF-8", "zh-Hant"},
        {"zh-Hant-CN", "zh-Hant"},
        {"zh-Hans-HK", "zh-Hans"},
        {"zh", "zh-Hans"},
        {"zh-CN", "zh-Hans"},
        {"zh-Hans", "zh-Hans"},
        {"zh-SG", "zh-Hans"},
        {"zh_CN.GB2312", "zh-Hans"},
        {"en", "en"},
        {"en-GB", "en"},
        {"en_US.UTF-8", "en"},
        {"en_US@euro", "en"},
        {"ja", "ja"},
        {"ja-JP", "ja"},
        {"ko_KR", "ko"},
        {"ko", "ko"},
        {"fr-FR", ""},
        {"de", ""},
        {"C", ""},
        {"POSIX", ""},
        {"und", ""},
        {"", ""},
        {"eng", ""},
        {"jav", ""},
    };
    for (const auto& [tag, code] : cases)
        EXPECT_EQ(Translations::supportedCode(QString::fromUtf8(tag)), QString::fromUtf8(code)) << tag;
}

TEST(TranslationsTest, MainLanguageIsTheFirstPreferredLanguageWithATable)
{
    const std::vector<std::pair<QStringList, QString>> cases{
        {{QStringLiteral("fr-FR"), QStringLiteral("ja-JP"), QStringLiteral("en-US")}, QStringLiteral("ja")},
        {{QStringLiteral("zh-TW")}, QStringLiteral("zh-Hant")},
        {{QStringLiteral("zh-CN"), QStringLiteral("en")}, QStringLiteral("zh-Hans")},
        {{QStringLiteral("ko_KR.UTF-8")}, QStringLiteral("ko")},
        {{QStringLiteral("de"), QStringLiteral("fr")}, QStringLiteral("en")},
        {{}, QStringLiteral("en")},
    };
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

TEST(TranslationsTest, MissingTablesAndEntries)
{
    Translations translations(Translations::defaultDirectory());
    for (const char* code : {"zh-Hant", "en", "ja", "ko"})
        EXPECT_TRUE(translations.hasTable(QString::fromUtf8(code))) << code;
    // zh-Hans is the key language and ships no table; names that are not codes never reach the disk.
    for (const char* code : {"zh-Hans", "fr", "", "../translations/nimbrel_en", "en/../en"}) {
        EXPECT_FALSE(translations.hasTable(QString::fromUtf8(code))) << code;
        EXPECT_EQ(translations.translate(QString::fromUtf8(code), QStringLiteral("设置")), std::nullopt) << code;
    }
    EXPECT_EQ(translations.translate(QStringLiteral("en"), QStringLiteral("不存在的条目")),
              QStringLiteral("不存在的条目"));
}

TEST(TranslationsTest, EveryTableTranslatesEveryInterfaceText)
{
    struct Key {
        QString text;
        // Texts that read the same in some languages (names, units).
        bool mayStayTheSame = false;
        // "%1" arguments the text takes; for a Chinese key, as many as the key shows.
        int stringArguments = -1;
    };
    const std::vector<Key> keys{
        {QStringLiteral("弹出剪切板")},
        {QStringLiteral("设置")},
        {QStringLiteral("退出 Nimbrel")},
        {QStringLiteral("关于 Nimbrel")},
        {QStringLiteral("联系作者")},
        {QStringLiteral("Nimbrel 设置")},
        {QStringLiteral("跟随系统")},
        {QStringLiteral("搜索")},
        {QStringLiteral("全部")},
        {QStringLiteral("文本")},
        {QStringLiteral("图片")},
        {QStringLiteral("链接")},
        {QStringLiteral("颜色")},
        {QStringLiteral("未找到匹配项")},
        {QStringLiteral("暂无剪切板历史")},
        {QStringLiteral("（空）")},
        {QStringLiteral("常驻系统托盘 · 全局快捷键唤起 · 选中即粘贴")},
        {QStringLiteral("重启以更新")},
        {QStringLiteral("无法自动粘贴")},
        {QStringLiteral("此桌面不允许模拟按键：选中的条目会放到剪贴板上，请按 Ctrl+V 粘贴。")},
        {QStringLiteral("了解详情")},
        {QStringLiteral("开机自启动")},
        {QStringLiteral("语言")},
        {QStringLiteral("切换后立即生效。")},
        {QStringLiteral("弹出快捷键")},
        {QStringLiteral("按下后立即弹出剪切板面板，建议避免和系统快捷键冲突。")},
        {QStringLiteral("弹出形态")},
        {QStringLiteral("底部")},
        {QStringLiteral("左侧竖排")},
        {QStringLiteral("右侧竖排")},
        {QStringLiteral("最大占用空间")},
        {QStringLiteral("%1 MB"), true},
        {QStringLiteral("超过容量时按时间从旧到新自动清理。所有数据只保存在本机的 %1 中。")},
        {QStringLiteral("支持 Nimbrel")},
        {QStringLiteral("如果 Nimbrel 帮到了你，可以请我喝杯咖啡。")},
        {QStringLiteral("请我喝杯咖啡")},
        {QStringLiteral("此桌面没有系统托盘")},
        {QStringLiteral("按 %1 或运行 nimbrel --toggle 打开剪切板面板；运行 nimbrel --settings 打开设置。")},
        {QStringLiteral("运行 nimbrel --toggle 打开剪切板面板；运行 nimbrel --settings 打开设置。")},
        {QStringLiteral("Nimbrel"), true},
        {QStringLiteral("版本 %1")},
        {QStringLiteral("record_shortcut")},
        {QStringLiteral("press_shortcut")},
        {QStringLiteral("keyboard_shortcut_used_by_menu_item"), false, 1},
        {QStringLiteral("keyboard_shortcut_disallowed")},
        {QStringLiteral("keyboard_shortcut_used_by_system")},
        {QStringLiteral("keyboard_shortcuts_can_be_changed")},
        {QStringLiteral("ok")},
        {QStringLiteral("force_use_shortcut")},
    };
    const QString stringPlaceholder = QStringLiteral("%1");
    const QString integerPlaceholder = QStringLiteral("%1");

    Translations translations(Translations::defaultDirectory());
    for (const QString& code : Translations::tableLanguages) {
        ASSERT_TRUE(translations.hasTable(code)) << code.toStdString();
        const bool isChinese = code == QStringLiteral("zh-Hant");
        for (const Key& key : keys) {
            SCOPED_TRACE(QString(code + u' ' + key.text).toStdString());
            const QString text = translations.translate(code, key.text).value_or(QString());
            EXPECT_FALSE(text.trimmed().isEmpty());
            // Traditional Chinese legitimately shares some texts with the keys ("全部", "底部"), but never
            // an identifier key such as "record_shortcut".
            const bool identifierKey =
                std::all_of(key.text.begin(), key.text.end(), [](QChar c) { return c.isLower() || c == u'_'; });
            if (!key.mayStayTheSame && (!isChinese || identifierKey)) {
                EXPECT_NE(text, key.text);
            }
            // Placeholders the code fills in must survive translation.
            const int stringArguments =
                key.stringArguments >= 0 ? key.stringArguments : int(key.text.count(stringPlaceholder));
            EXPECT_EQ(text.count(stringPlaceholder), stringArguments);
            EXPECT_EQ(text.count(integerPlaceholder), key.text.count(integerPlaceholder));
        }
    }
}

TEST(TranslationsTest, TablesAreDistinctLanguages)
{
    Translations translations(Translations::defaultDirectory());
    const QString key = QStringLiteral("Nimbrel 设置");
    EXPECT_EQ(translations.translate(QStringLiteral("en"), key), QStringLiteral("Nimbrel Settings"));
    EXPECT_EQ(translations.translate(QStringLiteral("zh-Hant"), key), QStringLiteral("Nimbrel 設定"));
    EXPECT_EQ(translations.translate(QStringLiteral("ko"), key), QStringLiteral("Nimbrel 설정"));
    EXPECT_EQ(translations.translate(QStringLiteral("ja"), QStringLiteral("退出 Nimbrel")),
              QStringLiteral("Nimbrel を終了"));
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
    const QString expected =
        QDir(buildTree).exists()
            ? buildTree
            : QDir::cleanPath(binDir + QStringLiteral("/../") + QStringLiteral(NIMBREL_TRANSLATIONS_INSTALL_DIR));
    EXPECT_EQ(Translations::defaultDirectory(), expected);
    qputenv("NIMBREL_TRANSLATIONS_DIR", saved);
}

}  // namespace
}  // namespace nimbrel
