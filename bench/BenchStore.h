// Histories of 10 000 to 1 000 000 records for the search figures, made once by the store's own code
// and kept as files, since the largest takes many minutes to build.
#pragma once

#include "history/HistoryStore.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <type_traits>
#include <vector>

namespace nimbrel::bench {

[[noreturn]] inline void die(const QString& message)
{
    std::fprintf(stderr, "%s\n", qPrintable(message));
    std::exit(1);
}

template <typename T>
T must(Result<T> result)
{
    if (!result)
        die(result.error().description);
    if constexpr (!std::is_void_v<T>)
        return std::move(result).value();
}

// NIMBREL_BENCH_DIR, or a folder under /tmp that later runs find again.
inline QString benchDir()
{
    const QString dir = qEnvironmentVariable("NIMBREL_BENCH_DIR", QDir::tempPath() + QStringLiteral("/nimbrel-bench"));
    if (!QDir().mkpath(dir))
        die(QStringLiteral("Could not make the folder %1").arg(dir));
    return dir;
}

// Record counts (at least 1000): the first argument, else NIMBREL_BENCH_SIZES, else `fallback`.
inline std::vector<int> benchSizes(int argc, char** argv, const char* fallback)
{
    QString list = argc > 1 ? QString::fromLocal8Bit(argv[1]) : qEnvironmentVariable("NIMBREL_BENCH_SIZES");
    std::vector<int> sizes;
    for (const QString& part : (list.isEmpty() ? QString::fromLatin1(fallback) : list).split(QLatin1Char(',')))
        sizes.push_back(std::max(1000, part.trimmed().toInt()));
    return sizes;
}

// Planted words: each hit word in about 30 % of the texts and links, each marker in 50 records.
inline const QStringList hitWords{QStringLiteral("report"), QStringLiteral("status")};
inline const QStringList markers = QStringLiteral("quokkafest vexillary jinglewort brumbyxyl").split(QLatin1Char(' '));
constexpr int markerRecords = 50;
// Word pairs never written, so these match nothing though their trigrams abound (no made-up word holds
// "th", "nd" or "ch", and none starts with a vowel).
inline const QStringList absentPairs =
    QStringLiteral("the and,and of,with is,which and,the of").split(QLatin1Char(','));

// The same numbers on every machine, unlike the distributions of <random>.
struct Rng : std::mt19937_64 {
    using std::mt19937_64::mt19937_64;
    int below(int n) { return static_cast<int>((*this)() % static_cast<quint64>(n)); }
    double unit() { return static_cast<double>((*this)() >> 11) * 0x1p-53; }
};

// Common English first (drawn most often), accented words and names, then made-up words of consonant-vowel
// syllables (no q, x or j; only n, r, s or l closing one).
inline const QStringList& vocabulary()
{
    static const QStringList words = [] {
        QStringList list = QStringLiteral(
                               "the of and to a in is it you that he was for on are with as I his they be at one have "
                               "this from or had by not word but what some we can out other were all there when up "
                               "use your how said an each she which do their time if will way about many then them "
                               "write would like so these her long make thing see him two has look more day could go "
                               "come did number sound no most people my over know water than call first who may down "
                               "side been now find build server file error quick question meeting project update "
                               "config release branch commit deploy user password table query Monday Berlin Paris "
                               "café naïve déjà crème façade résumé señor Straße über São Kraków Łódź Müller Zoë "
                               "Ångström Dvořák fiancée piñata Björk Øresund")
                               .split(QLatin1Char(' '));
        Rng rng(11);
        for (int i = 0; i < 3000; ++i) {
            QString word;
            for (int syllables = 2 + rng.below(3); syllables > 0; --syllables)
                word += QLatin1Char("bcdfghklmnprstvwz"[rng.below(17)]) + QLatin1Char("aeiou"[rng.below(5)]);
            list.append(rng.below(3) == 0 ? word + QLatin1Char("nrsl"[rng.below(4)]) : word);
        }
        return list;
    }();
    return words;
}

// About `chars` characters of words, rank r drawn with probability about 1/r; never a word twice in a row
// nor an absent pair. Planted words go between them, so they cannot make a pair either.
inline QStringList wordsOf(Rng& rng, int chars, const QStringList& planted)
{
    const QStringList& words = vocabulary();
    QStringList tokens;
    for (int length = 0; length < chars;) {
        const auto rank =
            std::min<qsizetype>(std::exp(rng.unit() * std::log(words.size() + 1.0)) - 1, words.size() - 1);
        if (!tokens.isEmpty() && (tokens.back() == words[rank] ||
                                  absentPairs.contains(tokens.back().toLower() + QLatin1Char(' ') + words[rank])))
            continue;
        tokens.append(words[rank]);
        length += static_cast<int>(words[rank].size()) + 1;
    }
    for (const QString& word : planted)
        tokens.insert(rng.below(static_cast<int>(tokens.size()) + 1), word);
    return tokens;
}

// Record `index` of a store of `total`: 0.5 % images (1 KB), 2 % colours, 10 % links, texts of 10 B to
// 10 KB (log-uniform) in sentences, about a second apart, from a handful of applications.
inline ClipItem benchRecord(int index, int total, Rng& rng)
{
    static const QStringList sources =
        QStringLiteral("Terminal Firefox Editor Files Chat Mail").split(QLatin1Char(' '));
    const QString source = sources[rng.below(6)];
    const auto make = [&](ClipKind kind, std::optional<QString> text, std::optional<QByteArray> image) {
        return ClipItem::make(
            kind, std::move(text), image, image, QStringLiteral("org.example.") + source, source,
            QDateTime::fromMSecsSinceEpoch(1'700'000'000'000 + index * 1000LL + rng.below(500), Qt::UTC));
    };
    // Marker m in the m-th quarter of every 50th part of the store; every fifth of those records a link.
    const int step = total / markerRecords;
    const int marker = index % (step / 4) == step / 8 && index < step * markerRecords ? index % step / (step / 4) : -1;
    const int draw = rng.below(1000);
    ClipKind kind = draw < 5     ? ClipKind::image
                    : draw < 25  ? ClipKind::color
                    : draw < 125 ? ClipKind::link
                                 : ClipKind::text;
    if (marker >= 0 && marker < markers.size())
        kind = index / step % 5 == 4 ? ClipKind::link : ClipKind::text;
    if (kind == ClipKind::image)  // stand-in bytes: decoding them is not what is measured
        return make(kind, std::nullopt, QByteArray(1024, '\x89'));
    if (kind == ClipKind::color)
        return make(kind, QStringLiteral("#%1").arg(rng.below(1 << 24), 6, 16, QLatin1Char('0')), std::nullopt);

    QStringList planted;
    for (const QString& word : hitWords) {
        if (rng.below(10) < 3)
            planted.append(word);
    }
    if (marker >= 0 && marker < markers.size())
        planted.append(markers[marker]);
    const int length = static_cast<int>(std::exp(std::log(10.0) + rng.unit() * std::log(1000.0)));
    const QStringList tokens = wordsOf(rng, kind == ClipKind::link ? std::min(length, 60) : length, planted);
    if (kind == ClipKind::link) {
        return make(kind,
                    QStringLiteral("https://%1/%2?id=%3")
                        .arg(QStringLiteral("docs.example.org"), tokens.join(QLatin1Char('/')).toLower())
                        .arg(rng.below(100000)),
                    std::nullopt);
    }
    QString text;
    int sentence = 0;
    for (const QString& token : tokens) {
        text += sentence == 0 ? token.left(1).toUpper() + token.mid(1) : token;
        if (++sentence < 6 + rng.below(9)) {
            text += QLatin1Char(' ');
            continue;
        }
        text += rng.below(6) == 0 ? QStringLiteral(".\n") : QStringLiteral(". ");
        sentence = 0;
    }
    return make(kind, text.trimmed(), std::nullopt);
}

inline void removeStoreFiles(const QString& path)
{
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

// The store of `records` records in benchDir(), generated on first use (saved every 5000 records).
inline QString ensureStore(int records)
{
    const QString path = benchDir() + QStringLiteral("/history-v2b-%1.store").arg(records);
    if (QFile::exists(path))
        return path;
    // Built under another name, so an interrupted build is never taken for a finished store.
    const QString partial = path + QStringLiteral(".part");
    removeStoreFiles(partial);
    std::fprintf(stderr, "Generating %s ...\n", qPrintable(path));
    {
        std::unique_ptr<HistoryStore> store = must(HistoryStore::openFile(partial));
        Rng rng(static_cast<quint64>(records));
        for (int i = 0; i < records; ++i) {
            must(store->insert(benchRecord(i, records, rng)));
            if ((i + 1) % 5000 == 0 || i + 1 == records)
                must(store->save());
        }
    }
    if (!QFile::rename(partial, path))
        die(QStringLiteral("Could not rename %1").arg(partial));
    return path;
}

}  // namespace nimbrel::bench
