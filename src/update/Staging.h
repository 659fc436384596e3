#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QString>

namespace nimbrel {

struct Release;

// The folder name of an install folder, installed or staged.
inline const QString installFolderName = QStringLiteral("Nimbrel.app");

// Why staging a downloaded release failed. `mountFailed` now means the package could not be unpacked.
enum class UpdateError { mountFailed, appNotFound, verificationFailed, stageFailed };

// The text the log shows for a staging failure.
QString describe(UpdateError error);

// What staging needs; a value, so it can be copied onto the staging thread.
struct StagingContext {
    QByteArray publicKey;     // verifies the package and the folder inside it
    QString updateDirectory;  // created when missing
    qint64 currentBuild = 0;  // the staged folder's signed build must be greater
};

// Stages a downloaded package as "Nimbrel.app" in the update folder and returns that location:
//  1. the package must be exactly the feed's length and match its detached signature, before a byte of
//     it is unpacked (else verificationFailed);
//  2. it is unpacked into a private folder beside the final place (else mountFailed);
//  3. "Nimbrel.app" must be at its top (else appNotFound), with a signed manifest that verifies and a
//     signed build above the running one (else verificationFailed: the feed's build number is not
//     signed, so a forged feed could otherwise install an older release);
//  4. it takes the place of the staged folder in one rename, so a half-written folder is never visible
//     and an earlier staged folder stays until a verified one replaces it (else stageFailed).
// The private folder is removed whatever the outcome; the package itself is the caller's.
Result<QString> stageUpdate(const QString& package, const Release& release, const StagingContext& context);

// Removes the private folders that a staging cut short (a crash, a kill) left in the update folder.
void removeStagingLeftovers(const QString& updateDirectory);

}  // namespace nimbrel
