#pragma once

#include <QString>

#include <array>
#include <optional>

namespace nimbrel {

// The interface language: the system's, or one pinned language. Persisted by raw value.
enum class AppLanguage { system, zhHans, zhHant, en, ja, ko };

inline constexpr std::array<AppLanguage, 6> allAppLanguages{AppLanguage::system, AppLanguage::zhHans,
                                                            AppLanguage::zhHant, AppLanguage::en,
                                                            AppLanguage::ja,     AppLanguage::ko};

QString rawValue(AppLanguage language);
std::optional<AppLanguage> appLanguageFromRaw(const QString& raw);
// The name the language picker shows: "跟随系统" is a key to translate, the others are shown as they are.
QString pickerName(AppLanguage language);
bool isPickerNameTranslated(AppLanguage language);

}  // namespace nimbrel
