#include "shell/HistoryEditCommand.h"

#include "history/HistoryStore.h"
#include "platform/Defaults.h"
#include "settings/SettingsStore.h"

#include <QFileInfo>
#include <QTextStream>

namespace nimbrel {

EditOutcome applyToStore(HistoryStore& store, const EditCommand& command)
{
    const auto failed = [](const Error& error) { return EditOutcome{EditOutcome::Status::failed, error.description}; };
    const auto saved = [&store, &failed](EditOutcome outcome) {
        if (const Result<void> written = store.save(); !written)
            return failed(written.error());
        return outcome;
    };
    switch (command.verb) {
        case EditCommand::Verb::remove: {
            const Result<std::optional<ClipItem>> record = store.record(command.id);
            if (!record)
                return failed(record.error());
            if (!*record)
                return EditOutcome{EditOutcome::Status::unknownRecord};
            if (const Result<void> removed = store.remove(command.id); !removed)
                return failed(removed.error());
            return saved({});
        }
        case EditCommand::Verb::pin:
        case EditCommand::Verb::unpin: {
            const Result<bool> found = store.setPinned(command.id, command.verb == EditCommand::Verb::pin);
            if (!found)
                return failed(found.error());
            if (!*found)
                return EditOutcome{EditOutcome::Status::unknownRecord};
            return saved({});
        }
        case EditCommand::Verb::clear: {
            const Result<EditOutcome> cleared = store.clear(command.includePinned);
            if (!cleared)
                return failed(cleared.error());
            const EditOutcome outcome = saved(*cleared);
            if (outcome.status == EditOutcome::Status::done)
                (void)HistoryStore::reclaimSpace(store.handle());
            return outcome;
        }
        case EditCommand::Verb::copy:
        case EditCommand::Verb::pause:
        case EditCommand::Verb::resume:
            break;
    }
    return failed(Error{QStringLiteral("this is not a change of the history store")});
}

int runOnStore(const EditCommand& command, const QString& storePath, Defaults& defaults, QTextStream& out,
               QTextStream& err)
{
    if (command.verb == EditCommand::Verb::pause || command.verb == EditCommand::Verb::resume) {
        if (command.minutes) {
            err << "nimbrel: Nimbrel is not running, so nothing is being recorded; `nimbrel --pause` without "
                   "minutes keeps it paused from its next start\n";
            return 1;
        }
        defaults.setBool(SettingsStore::recordingPausedKey, command.verb == EditCommand::Verb::pause);
        out << (command.verb == EditCommand::Verb::pause
                    ? "Nimbrel is not running; recording stays paused when it starts\n"
                    : "Nimbrel is not running; recording goes on when it starts\n");
        return 0;
    }
    if (!QFileInfo::exists(storePath)) {
        if (command.verb == EditCommand::Verb::clear) {
            out << "The history is empty\n";
            return 0;
        }
        err << "nimbrel: there is no history store at " << storePath << "\n";
        return 1;
    }
    Result<std::unique_ptr<HistoryStore>> store = HistoryStore::openFile(storePath);
    if (!store) {
        err << "nimbrel: " << store.error().description << "\n";
        return 1;
    }
    return reportAnswer(command, answerLine(applyToStore(**store, command)), out, err);
}

}  // namespace nimbrel
