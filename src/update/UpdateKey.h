#pragma once

#include <QByteArray>
#include <QString>

namespace nimbrel {

// The raw 32-byte Ed25519 public key that verifies release packages and folders (build-time setting
// NIMBREL_UPDATE_PUBLIC_KEY); empty when the built-in key is malformed, which makes every check fail.
QByteArray updatePublicKey();

// True when the build fell back to the test-only key because no release key was given.
bool updatePublicKeyIsTestKey();

// The path of the running executable, read from the kernel each time; empty when unknown.
QString runningExecutablePath();

}  // namespace nimbrel
