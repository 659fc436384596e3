// Signs a Nimbrel release for scripts/package; never installed.
//
//   nimbrel-sign --key <private-key.pem> --build <number> <folder>
//       writes the folder's "_signature" folder and checks it with the key's public half
//   nimbrel-sign --key <private-key.pem> --package <file>
//       prints the package's feed fields as JSON: {"length":…,"signature":"<base64>"}
//   nimbrel-sign --verify <folder>
//       checks a signed folder against the public key built into this build
//   nimbrel-sign --public-key <key.pem>
//       prints the raw public key in base64
//
// Exit status 0 on success, 1 on failure, 2 on a usage error.

#include "update/InstallManifest.h"
#include "update/PackageSignature.h"
#include "update/UpdateKey.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cstdio>
#include <optional>

using namespace nimbrel;

namespace {

void complain(const QString& text)
{
    std::fprintf(stderr, "nimbrel-sign: %s\n", text.toUtf8().constData());
}

void say(const QString& text)
{
    std::fprintf(stdout, "%s\n", text.toUtf8().constData());
}

std::optional<QByteArray> readKey(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > 65536)
        return std::nullopt;
    return file.readAll();
}

}  // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QFile::decodeName(argv[i]));

    QString keyPath;
    QString publicKeyPath;
    QString package;
    QString verify;
    std::optional<qint64> build;
    QString folder;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        const bool hasValue = i + 1 < arguments.size();
        if (argument == QLatin1String("--key") && hasValue) {
            keyPath = arguments.at(++i);
        } else if (argument == QLatin1String("--public-key") && hasValue) {
            publicKeyPath = arguments.at(++i);
        } else if (argument == QLatin1String("--package") && hasValue) {
            package = arguments.at(++i);
        } else if (argument == QLatin1String("--verify") && hasValue) {
            verify = arguments.at(++i);
        } else if (argument == QLatin1String("--build") && hasValue) {
            bool ok = false;
            build = arguments.at(++i).toLongLong(&ok);
            if (!ok || *build < 0) {
                complain(QStringLiteral("the build number must be a whole number of 0 or more"));
                return 2;
            }
        } else if (argument.startsWith(QLatin1Char('-')) || !folder.isEmpty()) {
            complain(QStringLiteral("unexpected argument %1").arg(argument));
            return 2;
        } else {
            folder = argument;
        }
    }

    if (!publicKeyPath.isEmpty()) {
        const auto pem = readKey(publicKeyPath);
        const QByteArray raw = pem ? ed25519PublicKeyFromPem(*pem) : QByteArray();
        if (raw.isEmpty()) {
            complain(QStringLiteral("%1 is not an Ed25519 key").arg(publicKeyPath));
            return 1;
        }
        say(QString::fromLatin1(raw.toBase64()));
        return 0;
    }

    if (!verify.isEmpty()) {
        const auto verified = verifyInstallFolder(verify, updatePublicKey());
        if (!verified) {
            complain(QStringLiteral("%1 does not verify with this build's update key: %2")
                         .arg(verify, verified.error().description));
            return 1;
        }
        say(QStringLiteral("verified %1 (build %2)").arg(verify).arg(verified->build));
        return 0;
    }

    const auto pem = keyPath.isEmpty() ? std::nullopt : readKey(keyPath);
    if (!keyPath.isEmpty() && !pem) {
        complain(QStringLiteral("cannot read %1").arg(keyPath));
        return 1;
    }

    if (!package.isEmpty() && pem) {
        const auto signature = signPackage(package, *pem);
        if (!signature) {
            complain(signature.error().description);
            return 1;
        }
        const QJsonObject fields{{QStringLiteral("length"), QFileInfo(package).size()},
                                 {QStringLiteral("signature"), QString::fromLatin1(signature->toBase64())}};
        say(QString::fromUtf8(QJsonDocument(fields).toJson(QJsonDocument::Compact)));
        return 0;
    }

    if (!pem || !build || folder.isEmpty()) {
        complain(QStringLiteral("usage: nimbrel-sign --key <private-key.pem> --build <number> <folder>"));
        return 2;
    }
    if (auto signedFolder = signInstallFolder(folder, *build, *pem); !signedFolder) {
        complain(signedFolder.error().description);
        return 1;
    }
    const auto verified = verifyInstallFolder(folder, ed25519PublicKeyFromPem(*pem));
    if (!verified) {
        complain(QStringLiteral("the signed folder does not verify: %1").arg(verified.error().description));
        return 1;
    }
    say(QStringLiteral("signed %1 (build %2, %3 entries)").arg(folder).arg(*build).arg(verified->entries.size()));
    return 0;
}
