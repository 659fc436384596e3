#pragma once

#include "shell/EditCommand.h"

#include <QString>

class QTextStream;

namespace nimbrel {

class Defaults;
class HistoryStore;

// Makes a change of the history on the store itself: pin, unpin, delete or clear (then gives the space
// back). Used when no Nimbrel runs, and by a Nimbrel whose writer is not running.
EditOutcome applyToStore(HistoryStore& store, const EditCommand& command);

// No Nimbrel runs: the change is made on the store file (a pause only in the settings, for the next start).
// `--copy` is not made here: something must stay to hand the record out.
int runOnStore(const EditCommand& command, const QString& storePath, Defaults& defaults, QTextStream& out,
               QTextStream& err);

}  // namespace nimbrel
