// The session probe, the window list and the virtual keyboard against a headless sway of its own
// (tests/support/private-sway).

#include "platform/linux/DesktopProbing.h"
#include "platform/linux/WaylandToplevels.h"
#include "platform/linux/WaylandVirtualKeyboard.h"
#include "platform/linux/WaylandWorkspace.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace nimbrel;

namespace {

void skipWithoutSway()
{
    if (const char* reason = std::getenv("NIMBREL_SWAY_UNAVAILABLE"))
        GTEST_SKIP() << "no headless sway here: " << reason;
}

}  // namespace

TEST(DesktopProbe, SwayOffersWhatTheWaylandServicesNeedAndIsChosenSo)
{
    skipWithoutSway();
    qputenv("XDG_SESSION_TYPE", "wayland");
    qputenv("XDG_CURRENT_DESKTOP", "sway");
    qunsetenv("DISPLAY");
    const DesktopProbe probe = native::probeDesktop();
    EXPECT_TRUE(probe.waylandDisplay);
    EXPECT_FALSE(probe.x11Display);
    EXPECT_TRUE(probe.swayIpc);
    for (const char* needed : {"zwlr_data_control_manager_v1", "zwlr_foreign_toplevel_manager_v1",
                               "zwp_virtual_keyboard_manager_v1", "zwlr_layer_shell_v1", "wl_seat"})
        EXPECT_GE(probe.globals.value(QLatin1String(needed)), 1u) << needed;

    const DesktopServices chosen = chooseDesktopServices(probe);
    EXPECT_FALSE(chosen.x11);
    EXPECT_EQ(chosen.capture, CaptureService::wlrDataControl);
    EXPECT_EQ(chosen.sourceApp, SourceAppService::foreignToplevel);
    EXPECT_EQ(chosen.paste, PasteService::virtualKeyboard);
    EXPECT_EQ(chosen.shortcut, ShortcutService::swayIpc);
    EXPECT_EQ(chosen.panel, PanelService::layerShell);
}

TEST(DesktopProbe, NoCompositorMeansNoGlobals)
{
    EXPECT_TRUE(native::waylandGlobals("/nonexistent/wayland-0").isEmpty());
}

TEST(WaylandToplevels, TheActivatedWindowsAppIdIsTheApplicationInFront)
{
    skipWithoutSway();
    native::WaylandToplevels toplevels;
    const auto error = toplevels.start();
    ASSERT_FALSE(error.has_value()) << error.value_or(QString()).toStdString();
    EXPECT_EQ(toplevels.activeAppId(), std::nullopt) << "an empty desktop has nothing in front";
    EXPECT_TRUE(toplevels.appIds().isEmpty());
    const native::WaylandWorkspace workspace(&toplevels);

    // A Qt application on Wayland: its app id is its desktop file name, else its program's name.
    QProcess target;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    target.setProcessEnvironment(environment);
    const QTemporaryDir scratch;
    target.start(QString::fromLocal8Bit(qgetenv("NIMBREL_TARGET")), {scratch.filePath(QStringLiteral("text"))});
    ASSERT_TRUE(target.waitForStarted(5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return toplevels.activeAppId() == QStringLiteral("nimbrel-target"); }, 10000))
        << toplevels.activeAppId().value_or(QStringLiteral("(none)")).toStdString() << " "
        << target.readAllStandardError().toStdString();
    // It runs, too: the one application with a window, known by its app id (no desktop entry names it).
    EXPECT_EQ(toplevels.appIds(), QStringList{QStringLiteral("nimbrel-target")});
    const QList<RunningApplication> running = workspace.runningApplications();
    ASSERT_EQ(running.size(), 1);
    EXPECT_EQ(running[0].applicationId, QStringLiteral("nimbrel-target"));
    EXPECT_EQ(running[0].windowClass, QStringLiteral("nimbrel-target"));

    target.kill();
    target.waitForFinished(5000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !toplevels.activeAppId().has_value(); }, 5000))
        << "a closed window is in front no more";
    EXPECT_TRUE(QTest::qWaitFor([&] { return toplevels.appIds().isEmpty(); }, 5000)) << "nor does it run";
    EXPECT_TRUE(workspace.runningApplications().isEmpty());
}

TEST(WaylandVirtualKeyboard, CtrlVPastesIntoTheQtFieldInFront)
{
    skipWithoutSway();
    native::WaylandToplevels toplevels;
    ASSERT_FALSE(toplevels.start().has_value());
    native::WaylandVirtualKeyboard keyboard;
    ASSERT_TRUE(keyboard.isAvailable());

    QProcess target;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    target.setProcessEnvironment(environment);
    const QTemporaryDir scratch;
    const QString typed = scratch.filePath(QStringLiteral("text"));
    target.start(QString::fromLocal8Bit(qgetenv("NIMBREL_TARGET")), {typed});
    ASSERT_TRUE(target.waitForStarted(5000));
    ASSERT_TRUE(target.waitForReadyRead(10000)) << "the field shows";
    ASSERT_TRUE(QTest::qWaitFor([&] { return toplevels.activeAppId() == QStringLiteral("nimbrel-target"); }, 10000));

    QProcess copy;
    copy.start(QStringLiteral("wl-copy"), {QStringLiteral("--type"), QStringLiteral("text/plain"),
                                           QStringLiteral("typed by the virtual keyboard")});
    ASSERT_TRUE(copy.waitForFinished(5000));

    // A chord with a key the keymap lacks is not typed at all; the next one lands once.
    keyboard.post(KeyChord{KeyChord::control, 0x10ffff}.transitions());
    keyboard.post(KeyChord{KeyChord::control, keysym::v}.transitions());
    const auto content = [&] {
        QFile file(typed);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return content() == "typed by the virtual keyboard"; }, 10000))
        << content().toStdString();
    target.kill();
    target.waitForFinished(5000);
}
