#include "settings/Translations.h"

#include "nimbrel/Version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTranslator>

namespace nimbrel {

namespace {

const QString keyLanguage = QStringLiteral("zh-Hans");
const QString fallbackLanguage = QStringLiteral("en");

// Codes become part of a file name: only letters and hyphens may pass.
bool isPlainCode(const QString& code)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z]+(-[A-Za-z]+)*$"));
    return plain.match(code).hasMatch();
}

}  // namespace

const QStringList Translations::tableLanguages{QStringLiteral("zh-Hant"), QStringLiteral("en"), QStringLiteral("ja"),
                                               QStringLiteral("ko")};

Translations::Translations(QString directory) : m_directory(std::move(directory))
{
}

Translations::~Translations() = default;

QString Translations::defaultDirectory()
{
    const QString fromEnvironment = qEnvironmentVariable("NIMBREL_TRANSLATIONS_DIR");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;

    const QString binDir = QCoreApplication::applicationDirPath();
    // A build tree keeps the program in bin/ and the compiled tables in translations/ beside it.
    const QString buildTree = QDir::cleanPath(binDir + QStringLiteral("/../translations"));
    if (QFileInfo(buildTree).isDir())
        return buildTree;

    const QString installDir = QString::fromLatin1(build::translationsInstallDir);
    if (QDir::isAbsolutePath(installDir))
        return installDir;
    return QDir::cleanPath(binDir + QStringLiteral("/../") + installDir);
}

QString Translations::supportedCode(const QString& tag)
{
    // Locale names arrive in several spellings: "zh-Hant-TW", "zh_TW.UTF-8", "en_US@euro".
    QString name = tag.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
    name.replace(QLatin1Char('_'), QLatin1Char('-'));
    const QStringList parts = name.toLower().split(QLatin1Char('-'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return {};

    const QString& language = parts.first();
    if (language == QLatin1String("zh")) {
        const QStringList rest = parts.mid(1);
        if (rest.contains(QLatin1String("hant")))
            return QStringLiteral("zh-Hant");
        if (rest.contains(QLatin1String("hans")))
            return keyLanguage;
        for (const char* region : {"tw", "hk", "mo"}) {
            if (rest.contains(QLatin1String(region)))
                return QStringLiteral("zh-Hant");
        }
        return keyLanguage;
    }
    if (language == QLatin1String("en") || language == QLatin1String("ja") || language == QLatin1String("ko"))
        return language;
    return {};
}

QString Translations::selectMainLanguage(const QStringList& preferred)
{
    m_mainLanguage = fallbackLanguage;
    for (const QString& tag : preferred) {
        const QString code = supportedCode(tag);
        // The key language needs no table; any other counts only when its table is really there.
        if (code == keyLanguage || (!code.isEmpty() && hasTable(code))) {
            m_mainLanguage = code;
            break;
        }
    }
    return m_mainLanguage;
}

bool Translations::hasTable(const QString& code) const
{
    return table(code) != nullptr;
}

std::optional<QString> Translations::translate(const QString& code, const QString& key) const
{
    const QTranslator* translator = table(code);
    if (!translator)
        return std::nullopt;
    const QString text = translator->translate(translationContext, key.toUtf8().constData());
    if (text.isEmpty())
        return key;
    return text;
}

QString Translations::translateMain(const QString& key) const
{
    return translate(m_mainLanguage, key).value_or(key);
}

void Translations::installMain() const
{
    if (!table(m_mainLanguage))
        return;
    QCoreApplication::installTranslator(m_tables.at(m_mainLanguage).get());
}

const QTranslator* Translations::table(const QString& code) const
{
    if (const auto found = m_tables.find(code); found != m_tables.end())
        return found->second.get();

    std::unique_ptr<QTranslator> translator;
    if (isPlainCode(code)) {
        const QString path = QDir(m_directory).filePath(QStringLiteral("nimbrel_") + code + QStringLiteral(".qm"));
        // Checked first: QTranslator::load would otherwise try shortened names of a missing file.
        if (QFileInfo(path).isFile()) {
            translator = std::make_unique<QTranslator>();
            if (!translator->load(path))
                translator.reset();
        }
    }
    // A missing table is remembered too, so a lookup never touches the disk twice.
    const QTranslator* result = translator.get();
    m_tables.emplace(code, std::move(translator));
    return result;
}

}  // namespace nimbrel
