#pragma once

#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <optional>

class QTranslator;

namespace nimbrel {

// The interface string tables: one compiled table per language ("nimbrel_<code>.qm") in a folder
// outside the executable. Keys are the Simplified Chinese texts, so zh-Hans needs no table and a
// missing entry falls back to the key.
class Translations {
public:
    // The languages that have a table, besides the key language zh-Hans.
    static const QStringList tableLanguages;

    explicit Translations(QString directory);
    ~Translations();
    Translations(const Translations&) = delete;
    Translations& operator=(const Translations&) = delete;

    // The folder Nimbrel's tables are installed in, found next to the executable.
    static QString defaultDirectory();

    // Chooses the language the process runs in from an ordered list of preferred language tags
    // ("ja-JP", "zh-Hant", "en_US"): the first one with a table, zh-Hans for Chinese in simplified script,
    // English when none fits. Returns the chosen code.
    QString selectMainLanguage(const QStringList& preferred);
    QString mainLanguage() const { return m_mainLanguage; }
    // Maps a language tag to the code of a table ("zh_TW" → "zh-Hant"); empty when none fits.
    static QString supportedCode(const QString& tag);

    // True when the folder holds a readable table for `code`.
    bool hasTable(const QString& code) const;
    // The translation of `key` in the table of `code`; std::nullopt when that table does not exist.
    std::optional<QString> translate(const QString& code, const QString& key) const;
    // The translation of `key` in the main language; the key itself when the table holds no entry.
    QString translateMain(const QString& key) const;

    // Installs the main language's table into the application (for texts drawn through tr()).
    void installMain() const;

private:
    const QTranslator* table(const QString& code) const;

    QString m_directory;
    QString m_mainLanguage = QStringLiteral("zh-Hans");
    mutable std::map<QString, std::unique_ptr<QTranslator>> m_tables;
};

// The translation context every table uses.
inline constexpr char translationContext[] = "Nimbrel";

}  // namespace nimbrel
