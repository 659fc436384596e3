// Stand-in for the code-signature tool: verifies a Nimbrel.app bundle's signed manifest against the
// public key of the team that the requirement names. This build knows one team and its key (build-time
// settings NIMBREL_TEAM_IDENTIFIER and NIMBREL_UPDATE_PUBLIC_KEY).
//
//   codesign --verify [--deep] [--strict] -R "=anchor apple generic and certificate leaf[subject.OU] = <team>" <bundle>
//
// Exit status 0 when the bundle verifies, 1 when it does not, 2 on a usage error, 3 when the requirement
// names no team this build knows.

#include "ToolSupport.h"
#include "update/BundleManifest.h"
#include "update/ToolPaths.h"

using namespace nimbrel;
using namespace nimbrel::tools;

namespace {

constexpr char tool[] = "codesign";

}  // namespace

int main(int argc, char** argv)
{
    const QStringList arguments = argumentList(argc, argv);
    bool verify = false;
    std::optional<QString> requirement;
    QString bundle;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--verify") || argument == QLatin1String("-v")) {
            verify = true;
        } else if (argument == QLatin1String("--deep") || argument == QLatin1String("--strict")) {
            // Always: every file of the bundle is checked, and nothing unlisted is allowed.
        } else if (argument == QLatin1String("-R") && i + 1 < arguments.size()) {
            requirement = arguments.at(++i);
        } else if (argument.startsWith(QLatin1Char('-')) || !bundle.isEmpty()) {
            complain(tool, QStringLiteral("unexpected argument %1").arg(argument));
            return 2;
        } else {
            bundle = argument;
        }
    }
    if (!verify || !requirement || bundle.isEmpty()) {
        complain(tool, QStringLiteral("usage: codesign --verify [--deep] [--strict] -R <requirement> <bundle>"));
        return 2;
    }
    if (!requirement->startsWith(codeSigningRequirementPrefix) ||
        requirement->mid(codeSigningRequirementPrefix.size()) != teamIdentifier()) {
        complain(tool, QStringLiteral("%1: the requirement names no known team: %2").arg(bundle, *requirement));
        return 3;
    }
    const auto verified = verifyBundle(bundle, updatePublicKey());
    if (!verified) {
        complain(tool, QStringLiteral("%1: invalid signature: %2").arg(bundle, verified.error().description));
        return 1;
    }
    complain(tool, QStringLiteral("%1: valid on disk, build %2").arg(bundle).arg(verified->build));
    return 0;
}
