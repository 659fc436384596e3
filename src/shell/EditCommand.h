#pragma once

#include "history/HistoryEdits.h"

#include <QStringList>
#include <QUuid>

#include <optional>
#include <variant>

class QTextStream;

namespace nimbrel {

// A change of the history (or of recording) asked from the command line:
// `--copy ID`, `--delete ID`, `--pin ID`, `--unpin ID`, `--clear [--include-pinned]`, `--pause [MINUTES]`,
// `--resume`. The running Nimbrel makes it when there is one, so the history keeps one writer.
struct EditCommand {
    enum class Verb { copy, remove, pin, unpin, clear, pause, resume };
    Verb verb = Verb::copy;
    QUuid id;
    bool includePinned = false;
    std::optional<int> minutes;

    bool operator==(const EditCommand&) const = default;
};

// Whether the arguments ask for one of these changes.
bool isEditCommand(const QStringList& arguments);
// The change the arguments (without the program name) ask for, or what is wrong with them.
std::variant<EditCommand, QString> parseEditCommand(const QStringList& arguments);

// How the change travels to the running instance, one line, and back.
QString requestLine(const EditCommand& command);
std::optional<EditCommand> commandFromRequest(const QString& line);
QString answerLine(const EditOutcome& outcome);

// Prints what the running instance answered (none: it did not answer); the exit status: 0 done, 1 for an
// unknown record or a failure.
int reportAnswer(const EditCommand& command, const std::optional<QString>& answer, QTextStream& out, QTextStream& err);

}  // namespace nimbrel
