#pragma once

#include <QStringList>

class QTextStream;

namespace nimbrel {

class Clock;

// `nimbrel --history [--search TEXT] [--kind K] [--json] [--limit N]`: prints the newest records of the
// store at `storePath` (those matching the panel's search and kind filter, when given), newest first,
// opening it read-only (safe while Nimbrel runs). Returns the exit status: 0 on success,
// 1 when there is no readable store, 2 for a malformed command line.
int runHistoryCommand(const QStringList& arguments, const QString& storePath, const Clock& clock, QTextStream& out,
                      QTextStream& err);

}  // namespace nimbrel
