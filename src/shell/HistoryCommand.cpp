#include "shell/HistoryCommand.h"

#include "history/HistorySearch.h"
#include "history/HistoryStore.h"
#include "history/ImageDecoding.h"
#include "platform/Clock.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTextStream>

#include <algorithm>

namespace nimbrel {

namespace {

constexpr int defaultLimit = 20;
constexpr int plainTextWidth = 80;

struct Options {
    bool json = false;
    int limit = defaultLimit;
    QString search;
    std::optional<ClipKind> kind;
};

constexpr const char* usage =
    "usage: nimbrel --history [--search TEXT] [--kind text|link|color|image] [--json] [--limit N]";

std::optional<Options> parse(const QStringList& arguments, QTextStream& err)
{
    Options options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--history"))
            continue;
        if (argument == QLatin1String("--json")) {
            options.json = true;
        } else if (argument == QLatin1String("--limit") && i + 1 < arguments.size()) {
            bool ok = false;
            options.limit = arguments[++i].toInt(&ok);
            if (!ok || options.limit <= 0) {
                err << "nimbrel: --limit takes a whole number greater than 0, not \"" << arguments[i] << "\"\n";
                return std::nullopt;
            }
        } else if (argument == QLatin1String("--search") && i + 1 < arguments.size()) {
            options.search = trimmedWhitespaceAndNewlines(arguments[++i]);
        } else if (argument == QLatin1String("--kind") && i + 1 < arguments.size()) {
            const QString kind = arguments[++i];
            const auto known = {ClipKind::text, ClipKind::link, ClipKind::color, ClipKind::image};
            const auto found = std::find_if(known.begin(), known.end(),
                                            [&kind](ClipKind candidate) { return rawValue(candidate) == kind; });
            if (found == known.end()) {
                err << "nimbrel: --kind takes text, link, color or image, not \"" << kind << "\"\n";
                return std::nullopt;
            }
            options.kind = *found;
        } else {
            err << "nimbrel: unknown argument \"" << argument << "\"; " << usage << "\n";
            return std::nullopt;
        }
    }
    return options;
}

QString ageText(const QDateTime& createdAt, const QDateTime& now)
{
    const qint64 seconds = std::max<qint64>(0, createdAt.secsTo(now));
    if (seconds < 60)
        return QStringLiteral("%1 s ago").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min ago").arg(seconds / 60);
    if (seconds < 86400)
        return QStringLiteral("%1 h ago").arg(seconds / 3600);
    return QStringLiteral("%1 d ago").arg(seconds / 86400);
}

QSize imageSize(const QByteArray& png)
{
    return checkImageHeader(png).value_or(QSize());
}

QString oneLine(const ClipItem& item, const QSize& size)
{
    if (item.kind() == ClipKind::image)
        return QStringLiteral("[image %1×%2]").arg(size.width()).arg(size.height());
    QString text = item.displayText().value_or(QString());
    text.replace(QLatin1String("\r\n"), QStringLiteral(" ⏎ "));
    for (const QChar breakChar : {QChar(u'\n'), QChar(u'\r'), QChar(u'\u2028'), QChar(u'\u2029'), QChar(u'\u0085')})
        text.replace(breakChar, QStringLiteral(" ⏎ "));
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    if (text.size() > plainTextWidth) {
        qsizetype cut = plainTextWidth - 1;
        if (text.at(cut - 1).isHighSurrogate())
            --cut;  // never half a character
        text = text.left(cut) + QChar(u'…');
    }
    return text;
}

QJsonValue optionalString(const std::optional<QString>& value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

}  // namespace

int runHistoryCommand(const QStringList& arguments, const QString& storePath, const Clock& clock, QTextStream& out,
                      QTextStream& err)
{
    const auto options = parse(arguments, err);
    if (!options)
        return 2;
    if (!QFileInfo::exists(storePath)) {
        err << "nimbrel: there is no history store at " << storePath << "\n";
        return 1;
    }
    auto store = HistoryStore::openReadOnly(storePath);
    if (!store) {
        err << "nimbrel: the history store at " << storePath << " cannot be read: " << store.error().description
            << "\n";
        return 1;
    }
    // The panel's search, through the same index; without a budget, so a short query reads every record.
    auto search = HistorySearch::open(storePath);
    Result<SearchOutcome> found = search ? (*search)->run(SearchQuery{options->search, options->kind, options->limit})
                                         : Result<SearchOutcome>(search.error());
    if (!found) {
        err << "nimbrel: the history store at " << storePath << " cannot be read: " << found.error().description
            << "\n";
        return 1;
    }
    QList<ClipItem>& items = found->items;

    QJsonArray array;
    const QDateTime now = clock.now();
    for (ClipItem& item : items) {
        QSize size;
        if (item.kind() == ClipKind::image && (*store)->loadContents(item) && item.contentImage)
            size = imageSize(*item.contentImage);
        if (!options->json) {
            const QString source = item.sourceName.value_or(item.sourceAppId.value_or(QStringLiteral("-")));
            out << item.kindRaw << '\t' << ageText(item.createdAt, now) << '\t'
                << QLocale::c().formattedDataSize(item.byteSize, 1, QLocale::DataSizeSIFormat) << '\t' << source << '\t'
                << oneLine(item, size) << '\n';
            continue;
        }
        QJsonObject object{
            {QStringLiteral("id"), item.id.toString(QUuid::WithoutBraces)},
            {QStringLiteral("kind"), rawValue(item.kind())},
            {QStringLiteral("createdAt"), item.createdAt.toUTC().toString(Qt::ISODateWithMs)},
            {QStringLiteral("byteSize"), item.byteSize},
            {QStringLiteral("pinned"), item.pinned},
            {QStringLiteral("sourceBundleID"), optionalString(item.sourceAppId)},
            {QStringLiteral("sourceName"), optionalString(item.sourceName)},
        };
        // The forms a choice of this record puts on the clipboard.
        QJsonArray representations;
        if (item.kind() == ClipKind::image) {
            object.insert(QStringLiteral("imageWidth"), size.width());
            object.insert(QStringLiteral("imageHeight"), size.height());
            if (item.contentImage)
                representations.append(QStringLiteral("image/png"));
        } else if (item.contentText) {
            object.insert(QStringLiteral("text"), *item.contentText);
            representations.append(QStringLiteral("text/plain"));
            const Result<QStringList> formats = (*store)->formatTypes(item.id);
            for (const QString& type : formats ? *formats : QStringList())
                representations.append(type);
        }
        object.insert(QStringLiteral("representations"), representations);
        array.append(object);
    }
    if (options->json)
        out << QJsonDocument(array).toJson(QJsonDocument::Indented);
    out.flush();
    return 0;
}

}  // namespace nimbrel
