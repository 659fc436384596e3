#pragma once

#include <QString>

#include <memory>

class QTranslator;

namespace nimbrel::KeyboardShortcuts {

// Qt's own translations ("qtbase_<language>.qm"), installed into the application so that the key names
// of shortcuts ("Space", "Num") read in the interface language, as they do in the desktop's Qt
// applications. One language at a time; removed again when this goes away.
class KeyNameTranslations {
public:
    // `directory` holds Qt's catalogues; by default the one Qt was built to look in.
    explicit KeyNameTranslations(QString directory = defaultDirectory());
    ~KeyNameTranslations();
    KeyNameTranslations(const KeyNameTranslations&) = delete;
    KeyNameTranslations& operator=(const KeyNameTranslations&) = delete;

    static QString defaultDirectory();

    // Installs the catalogue of an interface language code ("zh-Hans", "zh-Hant", "ja"), replacing the
    // one installed before. False when there is none for it; Qt's English names apply then.
    bool use(const QString& languageCode);
    // The file installed now; empty when none is.
    QString filePath() const;

private:
    QString m_directory;
    std::unique_ptr<QTranslator> m_translator;
};

}  // namespace nimbrel::KeyboardShortcuts
