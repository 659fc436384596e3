// Signs a Nimbrel.app bundle for release: writes its "_signature" folder from an Ed25519 private key
// (PEM, PKCS #8, unencrypted) and checks the result with the key's public half. Used by scripts/package;
// never installed.
//
//   nimbrel-bundle-sign --key <private-key.pem> --build <number> <bundle>
//   nimbrel-bundle-sign --public-key <key.pem>       prints the raw public key in base64
//
// Exit status 0 on success, 1 on failure, 2 on a usage error.

#include "ToolSupport.h"
#include "update/BundleManifest.h"

using namespace nimbrel;
using namespace nimbrel::tools;

namespace {

constexpr char tool[] = "nimbrel-bundle-sign";

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
    const QStringList arguments = argumentList(argc, argv);
    QString keyPath;
    QString publicKeyPath;
    std::optional<qint64> build;
    QString bundle;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        const bool hasValue = i + 1 < arguments.size();
        if (argument == QLatin1String("--key") && hasValue) {
            keyPath = arguments.at(++i);
        } else if (argument == QLatin1String("--public-key") && hasValue) {
            publicKeyPath = arguments.at(++i);
        } else if (argument == QLatin1String("--build") && hasValue) {
            bool ok = false;
            build = arguments.at(++i).toLongLong(&ok);
            if (!ok || *build < 0) {
                complain(tool, QStringLiteral("the build number must be a whole number of 0 or more"));
                return 2;
            }
        } else if (argument.startsWith(QLatin1Char('-')) || !bundle.isEmpty()) {
            complain(tool, QStringLiteral("unexpected argument %1").arg(argument));
            return 2;
        } else {
            bundle = argument;
        }
    }

    if (!publicKeyPath.isEmpty()) {
        const auto pem = readKey(publicKeyPath);
        const QByteArray raw = pem ? ed25519PublicKeyFromPem(*pem) : QByteArray();
        if (raw.isEmpty()) {
            complain(tool, QStringLiteral("%1 is not an Ed25519 key").arg(publicKeyPath));
            return 1;
        }
        say(QString::fromLatin1(raw.toBase64()));
        return 0;
    }

    if (keyPath.isEmpty() || !build || bundle.isEmpty()) {
        complain(tool, QStringLiteral("usage: nimbrel-bundle-sign --key <private-key.pem> --build <number> <bundle>"));
        return 2;
    }
    const auto pem = readKey(keyPath);
    if (!pem) {
        complain(tool, QStringLiteral("cannot read %1").arg(keyPath));
        return 1;
    }
    if (auto signedBundle = signBundle(bundle, *build, *pem); !signedBundle) {
        complain(tool, signedBundle.error().description);
        return 1;
    }
    const auto verified = verifyBundle(bundle, ed25519PublicKeyFromPem(*pem));
    if (!verified) {
        complain(tool, QStringLiteral("the signed bundle does not verify: %1").arg(verified.error().description));
        return 1;
    }
    say(QStringLiteral("signed %1 (build %2, %3 entries)").arg(bundle).arg(*build).arg(verified->entries.size()));
    return 0;
}
