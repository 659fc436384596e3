#include "history/HistoryStore.h"
#include "settings/SettingsStore.h"
#include "settings/Translations.h"
#include "shell/HistoryEditCommand.h"
#include "shell/RecordingPause.h"
#include "support/TestEnvironment.h"
#include "support/fake/FakePlatform.h"

#include <QSignalSpy>
#include <QTextStream>

#include <gtest/gtest.h>

using namespace nimbrel;
using namespace Qt::StringLiterals;
using Verb = EditCommand::Verb;

namespace {

const QString someIdText = u"5f0c6c8e-2f3b-4d0a-9a57-0d9b3c1f4e21"_s;
const QUuid someId = QUuid::fromString(someIdText);

template <typename Run>
std::tuple<int, QString, QString> printed(Run run)
{
    QString out, err;
    QTextStream o(&out), e(&err);
    const int status = run(o, e);
    o.flush(), e.flush();
    return {status, out, err};
}

}  // namespace

// What the command line asks for reaches the running instance as the same command. The verbs' effects,
// through a running Nimbrel and on the store alone, are proven end to end (test_history_management.py).
TEST(HistoryEditCommand, ArgumentsBecomeOneCommandThatTravelsIntact)
{
    const auto words = [](const char* line) {
        return QString::fromUtf8(line).split(u' ', Qt::SkipEmptyParts).replaceInStrings(u"ID"_s, someIdText);
    };
    // clang-format off
    const std::pair<const char*, EditCommand> accepted[] = {
        {"--copy ID", {Verb::copy, someId}}, {"--delete {ID}", {Verb::remove, someId}}, {"--pin ID", {Verb::pin, someId}},
        {"--unpin ID", {Verb::unpin, someId}}, {"--clear", {Verb::clear}}, {"--clear --include-pinned", {Verb::clear, {}, true}},
        {"--include-pinned --clear", {Verb::clear, {}, true}}, {"--pause", {Verb::pause}},
        {"--pause 15", {Verb::pause, {}, false, 15}}, {"--pause 1440", {Verb::pause, {}, false, 1440}}, {"--resume", {Verb::resume}},
    };
    // clang-format on
    for (const auto& [arguments, command] : accepted) {
        SCOPED_TRACE(arguments);
        const auto parsed = parseEditCommand(words(arguments));
        ASSERT_TRUE(std::holds_alternative<EditCommand>(parsed)) << std::get<QString>(parsed).toStdString();
        EXPECT_EQ(std::get<EditCommand>(parsed), command);
        EXPECT_EQ(commandFromRequest(requestLine(command)), command) << requestLine(command).toStdString();
    }
    for (const char* refused : {"--pin", "--pin not-an-id", "--pin 00000000-0000-0000-0000-000000000000",
                                "--pin ID --unpin ID", "--clear --pause", "--delete ID --include-pinned", "--pause 0",
                                "--pause 1441", "--pause soon", "--resume 5", "--clear --json"}) {
        const auto parsed = parseEditCommand(words(refused));
        EXPECT_FALSE(std::get_if<QString>(&parsed)->isEmpty()) << refused;
    }
    for (const char* request : {"", "pin", "pin 12", "clear everything", "pause -3", "toggle", "resume now"})
        EXPECT_EQ(commandFromRequest(QString::fromUtf8(request)), std::nullopt) << request;
}

// The answer, or the store when no Nimbrel runs, decides the exit status: 0 done, 1 for an unknown record,
// a failure or silence; the line goes to the output or, for a failure, to the errors.
TEST(HistoryEditCommand, AnswersBecomeExitStatusesAndLines)
{
    using S = EditOutcome::Status;
    // clang-format off
    const std::tuple<EditCommand, std::optional<QString>, int, const char*> answers[] = {
        {{Verb::pin, someId}, answerLine({}), 0, "Pinned 5f0c6c8e"},
        {{Verb::pin, someId}, answerLine({S::unknownRecord}), 1, "no record has the id 5f0c6c8e"},
        {{Verb::remove, someId}, answerLine({S::failed, u"disk\nfull"_s}), 1, "nimbrel: disk full"},
        {{Verb::clear}, answerLine({S::done, {}, 3, 2500}), 0, "Deleted 3 records (2.5 kB)"},
        {{Verb::clear, {}, true}, answerLine({S::done, {}, 1, 10}), 0, "Deleted 1 record ("},
        {{Verb::pause, {}, false, 1}, answerLine({}), 0, "paused for 1 minute"},
        {{Verb::copy, someId}, std::nullopt, 1, "did not answer"},
        {{Verb::remove, someId}, u"ok"_s, 1, "older than this command"},
    };
    // clang-format on
    for (const auto& [command, answer, status, line] : answers) {
        const auto [got, out, err] =
            printed([&](QTextStream& o, QTextStream& e) { return reportAnswer(command, answer, o, e); });
        EXPECT_EQ(got, status);
        EXPECT_TRUE((status ? err : out).contains(QLatin1String(line))) << QString(out + err).toStdString();
        EXPECT_TRUE((status ? out : err).isEmpty());
    }

    const QString path = test::freshDirectory() + u"/Nimbrel.store"_s;
    fake::MemoryDefaults defaults;
    const ClipItem kept = ClipItem::make(ClipKind::text, u"kept"_s, {}, {}, {}, {}, QDateTime::currentDateTimeUtc());
    const auto run = [&](const EditCommand& command) {
        return std::get<0>(
            printed([&](QTextStream& o, QTextStream& e) { return runOnStore(command, path, defaults, o, e); }));
    };
    EXPECT_EQ(run({Verb::pin, kept.id}), 1) << "no store yet";
    EXPECT_EQ(run({Verb::clear}), 0) << "nothing to clear";
    {
        const auto store = std::move(HistoryStore::openFile(path)).value();
        ASSERT_TRUE(store->insert(kept).ok() && store->save().ok());
    }
    // clang-format off
    const std::tuple<EditCommand, int, bool> onStore[] = {
        {{Verb::unpin, QUuid::createUuid()}, 1, false}, {{Verb::remove, kept.id}, 0, false}, {{Verb::remove, kept.id}, 1, false},
        {{Verb::pause}, 0, true}, {{Verb::pause, {}, false, 10}, 1, true} /* minutes need a running Nimbrel */,
        {{Verb::resume}, 0, false},
    };
    // clang-format on
    for (const auto& [command, status, paused] : onStore) {
        EXPECT_EQ(run(command), status) << requestLine(command).toStdString();
        EXPECT_EQ(defaults.boolean(SettingsStore::recordingPausedKey), paused);
    }
}

// Only a pause without an end outlives the process (proven end to end); one with an end ends by itself.
TEST(RecordingPause, ATimedPauseEndsByItselfAndIsNotKept)
{
    fake::MemoryDefaults defaults;
    fake::LoginItems loginItems;
    fake::RecordingConsole console;
    Translations translations{QString()};
    SettingsStore settings(defaults, loginItems, console, translations);
    fake::ManualClock clock;
    RecordingPause pause(settings, clock);
    QSignalSpy changed(&pause, &RecordingPause::changed);
    pause.pause(std::chrono::milliseconds(50));
    EXPECT_EQ(pause.endsAt(), clock.now().addMSecs(50));
    EXPECT_FALSE(RecordingPause(settings, clock).isPaused()) << "a pause with an end ends with the process";
    ASSERT_TRUE(changed.wait(5000));
    ASSERT_TRUE(changed.size() == 2 || changed.wait(5000));
    EXPECT_FALSE(pause.isPaused());
    EXPECT_EQ(pause.endsAt(), std::nullopt);
}
