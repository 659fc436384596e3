#include "KeyboardShortcuts/KeyNameTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace nimbrel::KeyboardShortcuts {

KeyNameTranslations::KeyNameTranslations(QString directory) : m_directory(std::move(directory))
{
}

KeyNameTranslations::~KeyNameTranslations()
{
    if (m_translator)
        QCoreApplication::removeTranslator(m_translator.get());
}

QString KeyNameTranslations::defaultDirectory()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

bool KeyNameTranslations::use(const QString& languageCode)
{
    if (m_translator) {
        QCoreApplication::removeTranslator(m_translator.get());
        m_translator.reset();
    }
    if (languageCode.isEmpty())
        return false;
    // The locale finds Qt's file names from the interface codes: "zh-Hans" reads qtbase_zh_CN.qm,
    // "zh-Hant" qtbase_zh_TW.qm.
    const QLocale locale(QString(languageCode).replace(QLatin1Char('-'), QLatin1Char('_')));
    if (locale.language() == QLocale::C)
        return false;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), m_directory))
        return false;
    QCoreApplication::installTranslator(translator.get());
    m_translator = std::move(translator);
    return true;
}

QString KeyNameTranslations::filePath() const
{
    return m_translator ? m_translator->filePath() : QString();
}

}  // namespace nimbrel::KeyboardShortcuts
