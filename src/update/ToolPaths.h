#pragma once

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>

namespace nimbrel {

// The five programs the updater runs. They keep the argument lists and exit-status contract of the
// tools they are named after; on Linux they are small stand-ins installed with Nimbrel:
//   hdiutil  attach = unpack a release package into the mount point, detach = remove it again
//   ditto    recursive copy preserving modes and links
//   codesign verify a bundle's signature against the key the requirement names
//   xattr    nothing to clear
//   open     start a bundle's executable detached
enum class UpdateTool { hdiutil, ditto, codesign, xattr, open };

// The tool's file name: "hdiutil", "ditto", "codesign", "xattr" or "open".
QString toolName(UpdateTool tool);

// Where the tool is run from. A path fixed at build time (NIMBREL_TOOL_<NAME>) wins; otherwise the tool
// beside the running executable in "../libexec/nimbrel/" (a build tree, an installation or a Nimbrel.app
// bundle); otherwise the installation's libexec folder. Resolved at each call, so it follows the
// executable when its bundle is moved aside.
QString toolPath(UpdateTool tool);

// The path of the running executable, read from the kernel each time; empty when unknown.
QString runningExecutablePath();

// The code-signing requirement: this prefix immediately followed by the 10-character team identifier.
inline constexpr QLatin1StringView codeSigningRequirementPrefix{
    "=anchor apple generic and certificate leaf[subject.OU] = "};

// The team identifier that signs Nimbrel's releases (build-time setting NIMBREL_TEAM_IDENTIFIER).
QString teamIdentifier();

// codeSigningRequirementPrefix followed by teamIdentifier().
QString codeSigningRequirement();

// The raw 32-byte Ed25519 public key that verifies the team's releases (build-time setting
// NIMBREL_UPDATE_PUBLIC_KEY); empty when the built-in key is malformed, which makes every check fail.
QByteArray updatePublicKey();

// True when the build fell back to the test-only key because no release key was given.
bool updatePublicKeyIsTestKey();

}  // namespace nimbrel
