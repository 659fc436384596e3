#include "settings/AppLanguage.h"

namespace nimbrel {

QString rawValue(AppLanguage language)
{
    switch (language) {
        case AppLanguage::system:
            return QStringLiteral("system");
        case AppLanguage::zhHans:
            return QStringLiteral("zh-Hans");
        case AppLanguage::zhHant:
            return QStringLiteral("zh-Hant");
        case AppLanguage::en:
            return QStringLiteral("en");
        case AppLanguage::ja:
            return QStringLiteral("ja");
        case AppLanguage::ko:
            return QStringLiteral("ko");
    }
    return QStringLiteral("system");
}

std::optional<AppLanguage> appLanguageFromRaw(const QString& raw)
{
    for (const AppLanguage language : allAppLanguages) {
        if (rawValue(language) == raw)
            return language;
    }
    return std::nullopt;
}

QString pickerName(AppLanguage language)
{
    // Each pinned language is named in itself, so a user lost in a foreign interface still finds theirs.
    switch (language) {
        case AppLanguage::system:
            return QStringLiteral("跟随系统");
        case AppLanguage::zhHans:
            return QStringLiteral("简体中文");
        case AppLanguage::zhHant:
            return QStringLiteral("繁體中文");
        case AppLanguage::en:
            return QStringLiteral("English");
        case AppLanguage::ja:
            return QStringLiteral("日本語");
        case AppLanguage::ko:
            return QStringLiteral("한국어");
    }
    return {};
}

bool isPickerNameTranslated(AppLanguage language)
{
    return language == AppLanguage::system;
}

}  // namespace nimbrel
