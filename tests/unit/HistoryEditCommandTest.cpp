#include "history/HistoryStore.h"
#include "support/fake/FakePlatform.h"
#include "settings/SettingsStore.h"
#include "settings/Translations.h"
#include "shell/HistoryEditCommand.h"
#include "shell/RecordingPause.h"
#include "support/TestEnvironment.h"

#include <QSignalSpy>
#include <QTextStream>

#include <gtest/gtest.h>

using namespace nimbrel;
using Verb = EditCommand::Verb;

namespace {

const QUuid someId = QUuid::fromString(QStringLiteral("5f0c6c8e-2f3b-4d0a-9a57-0d9b3c1f4e21"));
const QString someIdText = QStringLiteral("5f0c6c8e-2f3b-4d0a-9a57-0d9b3c1f4e21");

QStringList words(const char* line)
{
    return QString::fromUtf8(line)
        .split(QLatin1Char(' '), Qt::SkipEmptyParts)
        .replaceInStrings(QStringLiteral("ID"), someIdText);
}

struct Printed {
    int status = 0;
    QString out;
    QString err;
};

template <typename Run>
Printed printed(Run run)
{
    Printed printed;
    QTextStream out(&printed.out);
    QTextStream err(&printed.err);
    printed.status = run(out, err);
    out.flush();
    err.flush();
    return printed;
}

}  // namespace

// What the command line asks for reaches the running instance as the same command.
TEST(HistoryEditCommand, ArgumentsBecomeOneCommandThatTravelsIntact)
{
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

// The answer decides the exit status: 0 done, 1 for an unknown record, a failure or silence.
TEST(HistoryEditCommand, AnswersBecomeExitStatusesAndLines)
{
    struct Case {
        EditCommand command;
        std::optional<QString> answer;
        int status;
        const char* printed;
    };
    using S = EditOutcome::Status;
    // clang-format off
    const Case cases[] = {
        {{Verb::pin, someId}, answerLine({}), 0, "Pinned 5f0c6c8e"},
        {{Verb::pin, someId}, answerLine({S::unknownRecord}), 1, "no record has the id 5f0c6c8e"},
        {{Verb::remove, someId}, answerLine({S::failed, QStringLiteral("disk\nfull")}), 1, "nimbrel: disk full"},
        {{Verb::clear}, answerLine({S::done, {}, 3, 2500}), 0, "Deleted 3 records (2.5 kB)"},
        {{Verb::clear, {}, true}, answerLine({S::done, {}, 1, 10}), 0, "Deleted 1 record ("},
        {{Verb::pause, {}, false, 1}, answerLine({}), 0, "paused for 1 minute"},
        {{Verb::copy, someId}, std::nullopt, 1, "did not answer"},
        {{Verb::remove, someId}, QStringLiteral("ok"), 1, "older than this command"},
    };
    // clang-format on
    for (const Case& c : cases) {
        const Printed p =
            printed([&](QTextStream& out, QTextStream& err) { return reportAnswer(c.command, c.answer, out, err); });
        EXPECT_EQ(p.status, c.status);
        EXPECT_TRUE((c.status ? p.err : p.out).contains(QLatin1String(c.printed)))
            << QString(p.out + p.err).toStdString();
        EXPECT_TRUE((c.status ? p.out : p.err).isEmpty());
    }
}

// With no Nimbrel running the command line changes the store itself, and the pause only the settings.
TEST(HistoryEditCommand, WithoutARunningNimbrelTheStoreIsChanged)
{
    const QString path = test::freshDirectory() + QStringLiteral("/Nimbrel.store");
    fake::MemoryDefaults defaults;
    const auto run = [&](const EditCommand& command) {
        return printed(
            [&](QTextStream& out, QTextStream& err) { return runOnStore(command, path, defaults, out, err); });
    };
    const auto paused = [&] { return defaults.boolean(SettingsStore::recordingPausedKey); };
    const QDateTime t0 = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000, Qt::UTC);
    const ClipItem kept = ClipItem::make(ClipKind::text, QStringLiteral("kept"), {}, {}, {}, {}, t0);
    EXPECT_EQ(run({Verb::pin, kept.id}).status, 1) << "no store yet";
    EXPECT_EQ(run({Verb::clear}).status, 0) << "nothing to clear";
    {
        auto store = std::move(HistoryStore::openFile(path)).value();
        ASSERT_TRUE(store->insert(kept).ok());
        ASSERT_TRUE(
            store->insert(ClipItem::make(ClipKind::text, QStringLiteral("gone"), {}, {}, {}, {}, t0.addSecs(1))).ok());
        ASSERT_TRUE(store->save().ok());
    }
    EXPECT_EQ(run({Verb::pin, kept.id}).status, 0);
    EXPECT_EQ(run({Verb::unpin, QUuid::createUuid()}).status, 1);
    EXPECT_EQ(run({Verb::remove, QUuid::createUuid()}).status, 1);
    const Printed cleared = run({Verb::clear});
    EXPECT_EQ(cleared.status, 0);
    EXPECT_TRUE(cleared.out.startsWith(QStringLiteral("Deleted 1 record ("))) << cleared.out.toStdString();
    const auto left = std::move(std::move(HistoryStore::openReadOnly(path)).value()->fetch({})).value();
    ASSERT_EQ(left.size(), 1);
    EXPECT_EQ(left.first().id, kept.id);
    EXPECT_TRUE(left.first().pinned);
    EXPECT_EQ(run({Verb::remove, kept.id}).status, 0);
    EXPECT_EQ(run({Verb::remove, kept.id}).status, 1);

    EXPECT_EQ(run({Verb::pause}).status, 0);
    EXPECT_TRUE(paused());
    EXPECT_EQ(run({Verb::pause, {}, false, 10}).status, 1) << "minutes need a running Nimbrel";
    EXPECT_TRUE(paused());
    EXPECT_EQ(run({Verb::resume}).status, 0);
    EXPECT_FALSE(paused());
}

// Only a pause without an end outlives the process; one with an end ends by itself.
TEST(RecordingPause, AnEndlessPauseIsKeptAndATimedOneEndsByItself)
{
    fake::MemoryDefaults defaults;
    fake::LoginItems loginItems;
    fake::RecordingConsole console;
    Translations translations{QString()};
    SettingsStore settings(defaults, loginItems, console, translations);
    fake::ManualClock clock;

    RecordingPause pause(settings, clock);
    EXPECT_FALSE(pause.isPaused());
    pause.pause();
    EXPECT_TRUE(RecordingPause(settings, clock).isPaused()) << "kept for the next start";
    EXPECT_EQ(pause.endsAt(), std::nullopt);

    QSignalSpy changed(&pause, &RecordingPause::changed);
    pause.pause(std::chrono::milliseconds(50));
    EXPECT_EQ(pause.endsAt(), clock.now().addMSecs(50));
    EXPECT_FALSE(RecordingPause(settings, clock).isPaused()) << "a pause with an end ends with the process";
    ASSERT_TRUE(changed.wait(5000));
    ASSERT_TRUE(changed.size() == 2 || changed.wait(5000));
    EXPECT_FALSE(pause.isPaused());
    EXPECT_EQ(pause.endsAt(), std::nullopt);

    pause.pause();
    pause.resume();
    EXPECT_FALSE(RecordingPause(settings, clock).isPaused());
}
