#include "shell/EditCommand.h"

#include "shell/RecordingPause.h"

#include <QLocale>
#include <QTextStream>

#include <array>

namespace nimbrel {

namespace {

struct VerbName {
    EditCommand::Verb verb;
    const char* option;   // on the command line
    const char* request;  // on the instance's socket
    bool takesId;
};

constexpr std::array<VerbName, 7> verbs{{
    {EditCommand::Verb::copy, "--copy", "copy", true},
    {EditCommand::Verb::remove, "--delete", "delete", true},
    {EditCommand::Verb::pin, "--pin", "pin", true},
    {EditCommand::Verb::unpin, "--unpin", "unpin", true},
    {EditCommand::Verb::clear, "--clear", "clear", false},
    {EditCommand::Verb::pause, "--pause", "pause", false},
    {EditCommand::Verb::resume, "--resume", "resume", false},
}};

const VerbName* byOption(const QString& argument)
{
    for (const VerbName& name : verbs)
        if (argument == QLatin1String(name.option))
            return &name;
    return nullptr;
}

const VerbName& nameOf(EditCommand::Verb verb)
{
    for (const VerbName& name : verbs)
        if (name.verb == verb)
            return name;
    return verbs.front();
}

// A record id as `nimbrel --history --json` prints it; braces are accepted too.
std::optional<QUuid> recordId(const QString& text)
{
    const QUuid id = QUuid::fromString(text.trimmed());
    return id.isNull() ? std::nullopt : std::optional<QUuid>(id);
}

std::optional<int> pauseMinutes(const QString& text)
{
    bool ok = false;
    const int minutes = text.toInt(&ok);
    if (!ok || minutes < 1 || minutes > RecordingPause::maximumMinutes)
        return std::nullopt;
    return minutes;
}

QString idText(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces);
}

QString sizeText(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

}  // namespace

bool isEditCommand(const QStringList& arguments)
{
    for (const QString& argument : arguments)
        if (byOption(argument))
            return true;
    return false;
}

std::variant<EditCommand, QString> parseEditCommand(const QStringList& arguments)
{
    std::optional<EditCommand> command;
    bool includePinned = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--include-pinned")) {
            includePinned = true;
            continue;
        }
        const VerbName* name = byOption(argument);
        if (!name)
            return QStringLiteral("unknown argument \"%1\"").arg(argument);
        if (command)
            return QStringLiteral("%1 and %2 cannot be given together")
                .arg(QLatin1String(nameOf(command->verb).option), argument);
        command = EditCommand{name->verb};
        if (name->takesId) {
            if (i + 1 >= arguments.size())
                return QStringLiteral("%1 takes the id of a record (as `nimbrel --history --json` prints it)")
                    .arg(argument);
            const std::optional<QUuid> id = recordId(arguments[++i]);
            if (!id)
                return QStringLiteral(
                           "%1 takes the id of a record (as `nimbrel --history --json` prints it), not \"%2\"")
                    .arg(argument, arguments[i]);
            command->id = *id;
        } else if (name->verb == EditCommand::Verb::pause && i + 1 < arguments.size() &&
                   !arguments[i + 1].startsWith(QLatin1String("--"))) {
            command->minutes = pauseMinutes(arguments[++i]);
            if (!command->minutes)
                return QStringLiteral("--pause takes a number of minutes from 1 to %1, not \"%2\"")
                    .arg(RecordingPause::maximumMinutes)
                    .arg(arguments[i]);
        }
    }
    if (!command)
        return QStringLiteral("no change of the history was asked for");
    if (includePinned && command->verb != EditCommand::Verb::clear)
        return QStringLiteral("--include-pinned goes with --clear only");
    command->includePinned = includePinned;
    return *command;
}

QString requestLine(const EditCommand& command)
{
    QString line = QLatin1String(nameOf(command.verb).request);
    if (nameOf(command.verb).takesId)
        line += QLatin1Char(' ') + idText(command.id);
    if (command.includePinned)
        line += QStringLiteral(" pinned");
    if (command.minutes)
        line += QLatin1Char(' ') + QString::number(*command.minutes);
    return line;
}

std::optional<EditCommand> commandFromRequest(const QString& line)
{
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return std::nullopt;
    for (const VerbName& name : verbs) {
        if (words.first() != QLatin1String(name.request))
            continue;
        EditCommand command{name.verb};
        if (name.takesId) {
            const std::optional<QUuid> id = words.size() == 2 ? recordId(words[1]) : std::nullopt;
            if (!id)
                return std::nullopt;
            command.id = *id;
        } else if (name.verb == EditCommand::Verb::clear && words.size() == 2) {
            if (words[1] != QLatin1String("pinned"))
                return std::nullopt;
            command.includePinned = true;
        } else if (name.verb == EditCommand::Verb::pause && words.size() == 2) {
            command.minutes = pauseMinutes(words[1]);
            if (!command.minutes)
                return std::nullopt;
        } else if (words.size() != 1) {
            return std::nullopt;
        }
        return command;
    }
    return std::nullopt;
}

QString answerLine(const EditOutcome& outcome)
{
    switch (outcome.status) {
        case EditOutcome::Status::done:
            // Not "ok": a Nimbrel from before these requests answers "ok" to every line, done or not.
            return outcome.records || outcome.bytes
                       ? QStringLiteral("done %1 %2").arg(outcome.records).arg(outcome.bytes)
                       : QStringLiteral("done");
        case EditOutcome::Status::unknownRecord:
            return QStringLiteral("unknown");
        case EditOutcome::Status::failed:
            break;
    }
    // One line: the socket's answers end at the first line feed.
    return QStringLiteral("failed ") + QString(outcome.error).replace(QLatin1Char('\n'), QLatin1Char(' '));
}

int reportAnswer(const EditCommand& command, const std::optional<QString>& answer, QTextStream& out, QTextStream& err)
{
    if (!answer) {
        // A store another program holds keeps the change waiting in the writer, which still makes it later.
        err << "nimbrel: Nimbrel is running but did not answer in time; the change may still be made\n";
        return 1;
    }
    if (*answer == QLatin1String("ok")) {
        err << "nimbrel: the running Nimbrel is older than this command and did not make the change; quit it "
               "from the tray and start it again\n";
        return 1;
    }
    if (*answer == QLatin1String("unknown")) {
        err << "nimbrel: no record has the id " << idText(command.id) << "\n";
        return 1;
    }
    if (!answer->startsWith(QLatin1String("done"))) {
        err << "nimbrel: " << (answer->startsWith(QLatin1String("failed ")) ? answer->mid(7) : *answer) << "\n";
        return 1;
    }
    switch (command.verb) {
        case EditCommand::Verb::copy:
            out << "The record " << idText(command.id) << " is on the clipboard\n";
            break;
        case EditCommand::Verb::remove:
            out << "Deleted " << idText(command.id) << "\n";
            break;
        case EditCommand::Verb::pin:
            out << "Pinned " << idText(command.id) << "\n";
            break;
        case EditCommand::Verb::unpin:
            out << "Unpinned " << idText(command.id) << "\n";
            break;
        case EditCommand::Verb::clear: {
            const QStringList words = answer->split(QLatin1Char(' '));
            const qint64 records = words.value(1).toLongLong();
            out << "Deleted " << records << (records == 1 ? " record (" : " records (")
                << sizeText(words.value(2).toLongLong()) << ")"
                << (command.includePinned ? "" : "; pinned records are kept") << "\n";
            break;
        }
        case EditCommand::Verb::pause:
            if (command.minutes)
                out << "Recording paused for " << *command.minutes
                    << (*command.minutes == 1 ? " minute\n" : " minutes\n");
            else
                out << "Recording paused until `nimbrel --resume`\n";
            break;
        case EditCommand::Verb::resume:
            out << "Recording resumed\n";
            break;
    }
    out.flush();
    return 0;
}

}  // namespace nimbrel
