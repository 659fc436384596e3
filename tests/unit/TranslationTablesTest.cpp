// Every interface text in every table; the keys come from the sources, so a text added untranslated fails here.

#include "KeyboardShortcuts/Strings.h"
#include "settings/AppLanguage.h"
#include "settings/Translations.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <algorithm>

namespace nimbrel {
namespace {

bool hasChinese(const QString& text)
{
    static const QRegularExpression chinese(QStringLiteral("[\\x{3000}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));
    return text.contains(chinese);
}

// The Chinese string literals of the sources that are shown to the user. Diagnostic lines (written to the
// console or the system log, prefixed "[Nimbrel]", and their continuations) and the language names the
// picker shows untranslated are not interface texts.
QSet<QString> interfaceKeysInSources()
{
    QSet<QString> untranslatedNames;
    for (const AppLanguage language : allAppLanguages)
        if (!isPickerNameTranslated(language))
            untranslatedNames.insert(pickerName(language));

    QSet<QString> keys;
    const QRegularExpression literal(QString::fromUtf8(R"re(QStringLiteral\("((?:[^"\\]|\\.)*)"\))re"));
    QDirIterator files(QStringLiteral(NIMBREL_SOURCE_DIR "/src"), {QStringLiteral("*.cpp"), QStringLiteral("*.h")},
                       QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        for (const auto& match : literal.globalMatch(QString::fromUtf8(file.readAll())))
            if (const QString text = match.captured(1); hasChinese(text) && !untranslatedNames.contains(text) &&
                                                        !text.startsWith(QStringLiteral("[Nimbrel]")) &&
                                                        !text.startsWith(QChar(0xFF09)))
                keys.insert(text);
    }
    return keys;
}

struct TableFile {
    QSet<QString> sources;
    QStringList unfinished;
};

TableFile readTableFile(const QString& code)
{
    TableFile table;
    QFile file(QStringLiteral(NIMBREL_SOURCE_DIR "/resources/translations/nimbrel_%1.ts").arg(code));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
    QXmlStreamReader xml(&file);
    QString source;
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("source"))
            table.sources.insert(source = xml.readElementText());
        else if (xml.isStartElement() && xml.name() == QLatin1String("translation") &&
                 (xml.attributes().value(QLatin1String("type")) == QLatin1String("unfinished") ||
                  xml.readElementText().trimmed().isEmpty()))
            table.unfinished.append(source);
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return table;
}

TEST(TranslationTablesTest, EveryTableTranslatesEveryInterfaceText)
{
    QSet<QString> keys = interfaceKeysInSources();
    // The scan must find the texts of every part of the interface, or it proves nothing.
    for (const char* sample : {"弹出剪切板", "Nimbrel 设置", "暂无剪切板历史", "跟随系统", "版本 %1", "（空）"})
        EXPECT_TRUE(keys.contains(QString::fromUtf8(sample))) << sample;
    EXPECT_GE(keys.size(), 35);
    for (const QString& key : KeyboardShortcuts::builtInKeys())
        keys.insert(key);
    keys << QStringLiteral("Nimbrel") << QStringLiteral("%1 MB");

    Translations translations(Translations::defaultDirectory());
    for (const QString& code : Translations::tableLanguages) {
        SCOPED_TRACE(code.toStdString());
        const TableFile file = readTableFile(code);
        EXPECT_TRUE(file.unfinished.isEmpty()) << file.unfinished.join(u'|').toStdString();
        ASSERT_TRUE(translations.hasTable(code));
        for (const QString& key : keys) {
            SCOPED_TRACE(key.toStdString());
            EXPECT_TRUE(file.sources.contains(key)) << "missing from the table";
            const auto text = translations.translate(code, key);
            ASSERT_TRUE(text && !text->trimmed().isEmpty());
            // Chinese texts come back translated (Traditional Chinese and Japanese share some), identifier keys
            // such as "record_shortcut" always; names and units may stay as they are.
            const bool identifier =
                std::all_of(key.begin(), key.end(), [](QChar c) { return c.isLower() || c == u'_'; });
            if (identifier || (hasChinese(key) && code != QLatin1String("zh-Hant") && code != QLatin1String("ja"))) {
                EXPECT_NE(*text, key);
            }
            // Formats keep the argument the code fills in.
            const QString original = KeyboardShortcuts::builtInText(key).value_or(key);
            EXPECT_EQ(text->count(QStringLiteral("%1")), original.count(QStringLiteral("%1")));
        }
    }
}

}  // namespace
}  // namespace nimbrel
