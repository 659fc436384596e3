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

Printed onStore(const EditCommand& command, const QString& path, Defaults& defaults)
{
    Printed printed;
    QTextStream out(&printed.out);
    QTextStream err(&printed.err);
    printed.status = runOnStore(command, path, defaults, out, err);
    out.flush();
    err.flush();
    return printed;
}

}  // namespace

// What the command line asks for reaches the running instance as the same command.
TEST(HistoryEditCommand, ArgumentsBecomeOneCommandThatTravelsIntact)
{
    struct Case {
        const char* arguments;
        std::optional<EditCommand> command;  // none: refused
    };
    const Case cases[] = {
        {"--copy ID", EditCommand{Verb::copy, someId}},
        {"--delete {ID}", EditCommand{Verb::remove, someId}},
        {"--pin ID", EditCommand{Verb::pin, someId}},
        {"--unpin ID", EditCommand{Verb::unpin, someId}},
        {"--clear", EditCommand{Verb::clear}},
        {"--clear --include-pinned", EditCommand{Verb::clear, {}, true}},
        {"--include-pinned --clear", EditCommand{Verb::clear, {}, true}},
        {"--pause", EditCommand{Verb::pause}},
        {"--pause 15", EditCommand{Verb::pause, {}, false, 15}},
        {"--pause 1440", EditCommand{Verb::pause, {}, false, 1440}},
        {"--resume", EditCommand{Verb::resume}},
        {"--pin", std::nullopt},
        {"--pin not-an-id", std::nullopt},
        {"--pin 00000000-0000-0000-0000-000000000000", std::nullopt},
        {"--pin ID --unpin ID", std::nullopt},
        {"--clear --pause", std::nullopt},
        {"--delete ID --include-pinned", std::nullopt},
        {"--pause 0", std::nullopt},
        {"--pause 1441", std::nullopt},
        {"--pause soon", std::nullopt},
        {"--resume 5", std::nullopt},
        {"--clear --json", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const auto parsed = parseEditCommand(words(c.arguments));
        if (!c.command) {
            ASSERT_TRUE(std::holds_alternative<QString>(parsed));
            EXPECT_FALSE(std::get<QString>(parsed).isEmpty());
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<EditCommand>(parsed)) << std::get<QString>(parsed).toStdString();
        EXPECT_EQ(std::get<EditCommand>(parsed), *c.command);
        EXPECT_EQ(commandFromRequest(requestLine(*c.command)), c.command) << requestLine(*c.command).toStdString();
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
    const Case cases[] = {
        {{Verb::pin, someId}, answerLine({}), 0, "Pinned 5f0c6c8e"},
        {{Verb::pin, someId}, answerLine({EditOutcome::Status::unknownRecord}), 1, "no record has the id 5f0c6c8e"},
        {{Verb::remove, someId},
         answerLine({EditOutcome::Status::failed, QStringLiteral("disk\nfull")}),
         1,
         "nimbrel: disk full"},
        {{Verb::clear}, answerLine({EditOutcome::Status::done, {}, 3, 2500}), 0, "Deleted 3 records (2.5 kB)"},
        {{Verb::clear, {}, true}, answerLine({EditOutcome::Status::done, {}, 1, 10}), 0, "Deleted 1 record ("},
        {{Verb::pause, {}, false, 1}, answerLine({}), 0, "paused for 1 minute"},
        {{Verb::copy, someId}, std::nullopt, 1, "did not answer"},
        {{Verb::remove, someId}, QStringLiteral("ok"), 1, "older than this command"},
    };
    for (const Case& c : cases) {
        QString out;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        EXPECT_EQ(reportAnswer(c.command, c.answer, outStream, errStream), c.status);
        outStream.flush();
        errStream.flush();
        EXPECT_TRUE((c.status ? err : out).contains(QLatin1String(c.printed))) << QString(out + err).toStdString();
        EXPECT_TRUE((c.status ? out : err).isEmpty());
    }
}

// With no Nimbrel running the command line changes the store itself, and the pause only the settings.
TEST(HistoryEditCommand, WithoutARunningNimbrelTheStoreIsChanged)
{
    const QString path = test::freshDirectory() + QStringLiteral("/Nimbrel.store");
    fake::MemoryDefaults defaults;
    const QDateTime t0 = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000, Qt::UTC);
    const ClipItem kept = ClipItem::make(ClipKind::text, QStringLiteral("kept"), {}, {}, {}, {}, t0);
    const ClipItem gone = ClipItem::make(ClipKind::text, QStringLiteral("gone"), {}, {}, {}, {}, t0.addSecs(1));
    EXPECT_EQ(onStore({Verb::pin, kept.id}, path, defaults).status, 1) << "no store yet";
    EXPECT_EQ(onStore({Verb::clear}, path, defaults).status, 0) << "nothing to clear";
    {
        auto store = std::move(HistoryStore::openFile(path)).value();
        ASSERT_TRUE(store->insert(kept).ok());
        ASSERT_TRUE(store->insert(gone).ok());
        ASSERT_TRUE(store->save().ok());
    }
    EXPECT_EQ(onStore({Verb::pin, kept.id}, path, defaults).status, 0);
    EXPECT_EQ(onStore({Verb::unpin, QUuid::createUuid()}, path, defaults).status, 1);
    EXPECT_EQ(onStore({Verb::remove, QUuid::createUuid()}, path, defaults).status, 1);
    const Printed cleared = onStore({Verb::clear}, path, defaults);
    EXPECT_EQ(cleared.status, 0);
    EXPECT_TRUE(cleared.out.startsWith(QStringLiteral("Deleted 1 record ("))) << cleared.out.toStdString();
    {
        auto store = std::move(HistoryStore::openReadOnly(path)).value();
        const auto left = std::move(store->fetch({})).value();
        ASSERT_EQ(left.size(), 1);
        EXPECT_EQ(left.first().id, kept.id);
        EXPECT_TRUE(left.first().pinned);
    }
    EXPECT_EQ(onStore({Verb::remove, kept.id}, path, defaults).status, 0);
    EXPECT_EQ(onStore({Verb::remove, kept.id}, path, defaults).status, 1);

    EXPECT_EQ(onStore({Verb::pause}, path, defaults).status, 0);
    EXPECT_TRUE(defaults.boolean(SettingsStore::recordingPausedKey));
    EXPECT_EQ(onStore({Verb::pause, {}, false, 10}, path, defaults).status, 1) << "minutes need a running Nimbrel";
    EXPECT_TRUE(defaults.boolean(SettingsStore::recordingPausedKey));
    EXPECT_EQ(onStore({Verb::resume}, path, defaults).status, 0);
    EXPECT_FALSE(defaults.boolean(SettingsStore::recordingPausedKey));
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
