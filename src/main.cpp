// Process entry: the apply-update mode, or the tray application.

#include "KeyboardShortcuts/KeyNameTranslations.h"
#include "nimbrel/Version.h"
#include "KeyboardShortcuts/Shortcuts.h"
#include "platform/linux/DBusNotifier.h"
#include "platform/linux/DesktopKeyBindings.h"
#include "platform/linux/DesktopProbing.h"
#include "platform/linux/GnomeCustomKeybinding.h"
#include "platform/linux/JsonFileDefaults.h"
#include "platform/linux/KGlobalAccelHotKeys.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/PortalGlobalShortcuts.h"
#include "platform/linux/PortalKeyboard.h"
#include "platform/linux/QtHttpClient.h"
#include "platform/linux/QtClipboardWriter.h"
#include "platform/linux/SwayHotKeys.h"
#include "platform/linux/SystemTrayItem.h"
#include "platform/linux/WaylandClipboardMonitor.h"
#include "platform/linux/WaylandLayerShell.h"
#include "platform/linux/WaylandVirtualKeyboard.h"
#include "platform/linux/WaylandWorkspace.h"
#include "platform/linux/X11TaskbarPresence.h"
#include "platform/linux/X11ClipboardMonitor.h"
#include "platform/linux/X11HotKeys.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XInputClickMonitor.h"
#include "platform/linux/XTestKeyboard.h"
#include "platform/linux/XdgAutostart.h"
#include "report/LaunchReporter.h"
#include "settings/SettingsStore.h"
#include "settings/Translations.h"
#include "shell/AppDelegate.h"
#include "shell/HistoryCommand.h"
#include "shell/HistoryEditCommand.h"
#include "shell/SingleInstance.h"
#include "shell/TerminationSignals.h"
#include "update/ApplyUpdate.h"
#include "update/UpdateKey.h"
#include "update/UpdaterService.h"

#include <QApplication>
#include <QClipboard>
#include <QLocale>
#include <QProcess>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

bool hasArgument(int argc, char** argv, const char* wanted)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], wanted) == 0)
            return true;
    return false;
}

constexpr const char* usage =
    "usage: nimbrel [--toggle | --settings]\n"
    "       nimbrel --diagnose\n"
    "       nimbrel --history [--search TEXT] [--kind text|link|color|image] [--json] [--limit N]\n"
    "       nimbrel --copy ID | --delete ID | --pin ID | --unpin ID\n"
    "       nimbrel --clear [--include-pinned]\n"
    "       nimbrel --pause [MINUTES] | --resume\n"
    "       nimbrel --help | --version\n"
    "\n"
    "Keeps a history of what you copy and pastes any of it back from a panel (Shift+Super+V).\n"
    "\n"
    "  (none)      start Nimbrel in the tray; when it runs already, show or hide its panel\n"
    "  --toggle    show or hide the running Nimbrel's panel (starts Nimbrel when none runs)\n"
    "  --settings  open the running Nimbrel's settings window (starts Nimbrel when none runs)\n"
    "  --history   print the newest records and exit; read-only, needs no display\n"
    "              (--json gives each record's id, for the options below)\n"
    "  --copy      put that record back on the clipboard, as choosing it in the panel does, without pasting\n"
    "              (starts Nimbrel when none runs: something must hold the clipboard)\n"
    "  --delete    delete that record\n"
    "  --pin       keep that record whatever the storage budget; --unpin lets it go again\n"
    "  --clear     delete every record that is not pinned (with --include-pinned, every record) and give\n"
    "              the space back; asks nothing\n"
    "  --pause     stop recording copies, until --resume or for MINUTES (at most a day)\n"
    "  --resume    record copies again\n"
    "              These talk to the running Nimbrel, or change the store themselves when none runs.\n"
    "  --diagnose  print how Nimbrel works on this desktop and what it cannot do here, and exit\n"
    "  --help      print this help and exit\n"
    "  --version   print the version and exit\n";

// The options of the tray application; Qt's own single-dash options (-session, -platform, …) are Qt's.
// Those of --history and --apply-update are their commands' to check.
bool isApplicationOption(const char* argument)
{
    for (const char* known : {"--toggle", "--settings", "--diagnose"})
        if (std::strcmp(argument, known) == 0)
            return true;
    return std::strncmp(argument, "--", 2) != 0;
}

// The services of the display system Nimbrel runs on: X11 (also under XWayland), or Wayland's protocols
// on connections of their own. Chosen once; the rest of Nimbrel sees only the interfaces.
struct DisplayServices {
    std::unique_ptr<nimbrel::ClipboardMonitor> clipboardMonitor;
    std::unique_ptr<nimbrel::ClipboardWriter> clipboardWriter;
    std::unique_ptr<nimbrel::native::WaylandToplevels> toplevels;
    std::unique_ptr<nimbrel::Workspace> workspace;
    std::unique_ptr<nimbrel::KeyboardSynthesizer> keyboard;
    std::unique_ptr<nimbrel::HotKeyPlatform> hotKeys;
    // The shortcut as a GNOME setting, which waits for the user's consent; null elsewhere.
    nimbrel::native::GnomeCustomKeybinding* gnomeShortcut = nullptr;
};

// The user agreed, in the settings window, that Nimbrel may add its shortcut to GNOME's keyboard settings.
const QString gnomeShortcutAllowedKey = QStringLiteral("Nimbrel.gnomeShortcutAllowed");

DisplayServices makeDisplayServices(const nimbrel::DesktopServices& chosen, const nimbrel::DesktopProbe& probe,
                                    nimbrel::Defaults& defaults, nimbrel::Console& console)
{
    using namespace nimbrel;
    DisplayServices made;
    if (chosen.x11 || chosen.capture == CaptureService::none) {
        made.clipboardMonitor = std::make_unique<native::X11ClipboardMonitor>();
        made.clipboardWriter = std::make_unique<native::QtClipboardWriter>(QGuiApplication::clipboard());
    } else {
        auto monitor = std::make_unique<native::WaylandClipboardMonitor>();
        made.clipboardWriter = std::make_unique<native::WaylandClipboardWriter>(*monitor);
        made.clipboardMonitor = std::move(monitor);
    }

    if (chosen.x11 || chosen.sourceApp == SourceAppService::x11) {
        made.workspace = std::make_unique<native::X11Workspace>();
    } else {
        if (chosen.sourceApp == SourceAppService::foreignToplevel) {
            made.toplevels = std::make_unique<native::WaylandToplevels>();
            if (const auto error = made.toplevels->start()) {
                console.line(*error);
                made.toplevels.reset();
            }
        }
        made.workspace = std::make_unique<native::WaylandWorkspace>(made.toplevels.get());
    }

    switch (chosen.paste) {
        case PasteService::virtualKeyboard:
            made.keyboard = std::make_unique<native::WaylandVirtualKeyboard>();
            break;
        case PasteService::remoteDesktopPortal: {
            auto portal = std::make_unique<native::PortalKeyboard>(QDBusConnection::sessionBus(),
                                                                   probe.remoteDesktopPortal, defaults, console);
            // With the permission kept from an earlier run the session opens now, without a dialog.
            portal->prepare();
            made.keyboard = std::move(portal);
            break;
        }
        default:
            // XTest where there is X11; elsewhere it reports that no keys can be typed.
            made.keyboard = std::make_unique<native::XTestKeyboard>(console);
            break;
    }

    const QString program = QCoreApplication::applicationFilePath();
    switch (chosen.shortcut) {
        case ShortcutService::swayIpc:
            made.hotKeys = std::make_unique<native::SwayHotKeys>(qEnvironmentVariable("SWAYSOCK"), console);
            break;
        case ShortcutService::kglobalaccel:
            made.hotKeys = std::make_unique<native::KGlobalAccelHotKeys>(console);
            break;
        case ShortcutService::globalShortcutsPortal:
            made.hotKeys = std::make_unique<native::PortalGlobalShortcuts>(console);
            break;
        case ShortcutService::gnomeCustomKeybinding: {
            auto gnome = std::make_unique<native::GnomeCustomKeybinding>(program, console);
            gnome->setAllowed(defaults.boolean(gnomeShortcutAllowedKey));
            made.gnomeShortcut = gnome.get();
            made.hotKeys = std::move(gnome);
            break;
        }
        default:
            // X11 key grabs; without X11 they report that no hot key can be delivered.
            made.hotKeys = std::make_unique<native::X11HotKeys>();
            break;
    }
    return made;
}

int runDiagnose(int argc, char** argv)
{
    // Asks the session what it offers, as a start does, without starting anything.
    QCoreApplication app(argc, argv);
    nimbrel::DesktopProbe probe = nimbrel::native::probeDisplays();
    nimbrel::native::probeSessionBus(probe);
    QTextStream out(stdout);
    for (const QString& line : nimbrel::describeDesktopServices(probe, nimbrel::chooseDesktopServices(probe)))
        out << line << '\n';
    return 0;
}

// `--copy`, `--delete`, `--pin`, `--unpin`, `--clear`, `--pause`, `--resume`: the running Nimbrel makes the
// change, so the history keeps one writer; without one it is made here on the store.
int runEditCommand(int argc, char** argv)
{
    using namespace nimbrel;
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const auto parsed = parseEditCommand(app.arguments().mid(1));
    if (const QString* problem = std::get_if<QString>(&parsed)) {
        err << "nimbrel: " << *problem << "\n" << usage;
        return 2;
    }
    const EditCommand& command = std::get<EditCommand>(parsed);
    native::StandardLocations locations;
    SingleInstance instance(locations.runtimeDirectory(), locations.dataDirectory());
    if (!instance.tryLock()) {
        const std::optional<QString> answer = instance.ask(requestLine(command));
        // Unanswered while the lock comes free: it was another command line's, which has finished.
        if (answer || !instance.tryLock(SingleInstance::lockWaitMs))
            return reportAnswer(command, answer, out, err);
    }

    if (command.verb != EditCommand::Verb::copy) {
        native::StdoutConsole console;
        native::JsonFileDefaults defaults(locations.defaultsFile(), console);
        const int status = runOnStore(command, locations.storeFile(), defaults, out, err);
        if (!defaults.synchronize()) {
            err << "nimbrel: the settings file " << locations.defaultsFile() << " could not be written\n";
            return 1;
        }
        return status;
    }
    // Only a running process can hand the record out when an application asks for it: Nimbrel starts,
    // in the background, and is asked as if it had been running. An unknown record starts nothing.
    auto store = HistoryStore::openReadOnly(locations.storeFile());
    const Result<std::optional<ClipItem>> record =
        store ? (*store)->record(command.id) : Result<std::optional<ClipItem>>(store.error());
    if (!record) {
        err << "nimbrel: " << record.error().description << "\n";
        return 1;
    }
    if (!*record)
        return reportAnswer(command, QStringLiteral("unknown"), out, err);
    store.value().reset();
    instance.unlock();
    QProcess nimbrel;
    nimbrel.setProgram(QCoreApplication::applicationFilePath());
    // Its lines would keep a caller's pipe open for as long as it runs.
    nimbrel.setStandardOutputFile(QProcess::nullDevice());
    nimbrel.setStandardErrorFile(QProcess::nullDevice());
    if (!nimbrel.startDetached()) {
        err << "nimbrel: Nimbrel could not be started to hold the clipboard\n";
        return 1;
    }
    constexpr int startTimeoutMs = 20000;
    return reportAnswer(command, instance.ask(requestLine(command), startTimeoutMs), out, err);
}

int runApplyUpdate(int argc, char** argv)
{
    // Windowless: the helper swaps the folders and records the outcome; no user interface starts.
    QCoreApplication app(argc, argv);
    nimbrel::native::StandardLocations locations;
    nimbrel::native::SystemClock clock;
    nimbrel::native::SyslogSystemLog log;
    return nimbrel::runApplyUpdate(QCoreApplication::arguments(), locations, clock, log);
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace nimbrel;

    if (hasArgument(argc, argv, "--apply-update"))
        return runApplyUpdate(argc, argv);

    {
        QStringList arguments;
        for (int i = 1; i < argc; ++i)
            arguments.append(QString::fromLocal8Bit(argv[i]));
        if (isEditCommand(arguments) && !hasArgument(argc, argv, "--history"))
            return runEditCommand(argc, argv);
    }

    if (hasArgument(argc, argv, "--history")) {
        // Reads the store only; needs no display and no running Nimbrel.
        QCoreApplication app(argc, argv);
        native::StandardLocations locations;
        native::SystemClock clock;
        QTextStream out(stdout);
        QTextStream err(stderr);
        return runHistoryCommand(app.arguments().mid(1), locations.storeFile(), clock, out, err);
    }

    // Answered before anything is made: no display, no file, no running Nimbrel is needed or touched.
    if (hasArgument(argc, argv, "--help") || hasArgument(argc, argv, "-h")) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (hasArgument(argc, argv, "--version")) {
        // The release tooling reads the build number from here: it is what the update check compares.
        std::printf("Nimbrel %s (build %s)\n", nimbrel::build::version, nimbrel::build::number);
        return 0;
    }

    for (int i = 1; i < argc; ++i) {
        if (!isApplicationOption(argv[i])) {
            std::fprintf(stderr, "nimbrel: unknown option %s\n%s", argv[i], usage);
            return 2;
        }
    }

    if (hasArgument(argc, argv, "--diagnose"))
        return runDiagnose(argc, argv);

    // Qt's platform plugin follows the display system chosen: on a Wayland desktop that lets no client
    // watch the clipboard (GNOME) Nimbrel runs as an X11 client under XWayland, where it can. The user's
    // own QT_QPA_PLATFORM stands.
    DesktopProbe probe = native::probeDisplays();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && (probe.x11Display || probe.waylandDisplay))
        qputenv("QT_QPA_PLATFORM", chooseDesktopServices(probe).x11 ? "xcb" : "wayland");
    // Qt then gives no shell role of its own to the windows that the layer shell places (those made with
    // Qt::BypassWindowManagerHint: the panel, the catcher under it and the image preview).
    if (chooseDesktopServices(probe).panel == PanelService::layerShell)
        qputenv("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT", "1");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Nimbrel"));
    QApplication::setApplicationVersion(QString::fromLatin1(nimbrel::build::version));
    QApplication::setDesktopFileName(QStringLiteral("org.nimbrel.Nimbrel"));
    // Nimbrel lives in the tray: closing its last window never ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    native::StdoutConsole console;
    native::StandardLocations locations;

    // A second start, and `nimbrel --toggle`, toggle the panel of the Nimbrel that runs already;
    // `nimbrel --settings` brings its settings window forward.
    const bool showSettings = hasArgument(argc, argv, "--settings");
    SingleInstance instance(locations.runtimeDirectory(), locations.dataDirectory());
    if (!instance.tryLock()) {
        if (instance.send(showSettings ? QStringLiteral("settings") : QStringLiteral("toggle")))
            return 0;
        // A command line working on the store holds the lock for a moment; a Nimbrel that does not answer
        // keeps it.
        if (!instance.tryLock(SingleInstance::lockWaitMs)) {
            console.line(QStringLiteral("Nimbrel is already running but does not answer."));
            return 1;
        }
    }

    native::JsonFileDefaults defaults(locations.defaultsFile(), console);
    native::XdgAutostart loginItems(locations.configDirectory() + QStringLiteral("/autostart"),
                                    QCoreApplication::applicationFilePath());
    Translations translations(Translations::defaultDirectory());
    SettingsStore settings(defaults, loginItems, console, translations);

    // The stored language decides the interface language before any window appears.
    const QStringList preferred =
        defaults.stringList(SettingsStore::appleLanguagesKey).value_or(QLocale::system().uiLanguages());
    const QString language = translations.selectMainLanguage(preferred);
    translations.installMain();
    if (defaults.stringList(SettingsStore::appleLanguagesKey))
        QLocale::setDefault(QLocale(QString(language).replace(QLatin1Char('-'), QLatin1Char('_'))));
    // Qt's own catalogue names the keys of shortcuts in the interface language, and follows a change of it
    // (connected before any window is, so the texts are in place when the windows retranslate).
    KeyboardShortcuts::KeyNameTranslations keyNames;
    const auto useInterfaceLanguage = [&keyNames, &settings, &translations] {
        const AppLanguage chosen = settings.language();
        keyNames.use(chosen == AppLanguage::system ? translations.mainLanguage() : rawValue(chosen));
    };
    useInterfaceLanguage();
    QObject::connect(&settings, &SettingsStore::languageChanged, &app, useInterfaceLanguage);

    native::probeSessionBus(probe);
    const DesktopServices chosen = chooseDesktopServices(probe);
    for (const Limit limit : chosen.degraded)
        console.line(QStringLiteral("[Nimbrel] ") + limitText(limit));
    DisplayServices display = makeDisplayServices(chosen, probe, defaults, console);

    std::unique_ptr<native::WaylandLayerShell> layerShell;
    if (chosen.panel == PanelService::layerShell) {
        layerShell = std::make_unique<native::WaylandLayerShell>();
        if (!layerShell->isAvailable()) {
            console.line(
                QStringLiteral("[Nimbrel] The desktop's layers cannot be reached: the panel is an ordinary "
                               "window."));
            layerShell.reset();
        }
    }

    native::X11TaskbarPresence taskbar;
    native::SystemTrayItem tray;
    native::SystemClock clock;
    native::XkbKeyboardLayout keyboardLayout;
    KeyboardShortcuts::Shortcuts shortcuts(
        defaults, *display.hotKeys, keyboardLayout, console,
        KeyboardShortcuts::notationForDesktop(qEnvironmentVariable("XDG_CURRENT_DESKTOP")));
    shortcuts.setStrings([&settings](const QString& key) { return settings.localized(key); });
    native::XInputClickMonitor clicks;
    native::SyslogSystemLog systemLog;
    native::QtHttpClient http;
    UpdaterService updater(
        UpdaterEnvironment{http, systemLog, locations, runningExecutablePath(), QString::fromLatin1(nimbrel::build::number)});
    LaunchReporter launchReporter(http, defaults, systemLog);
    native::DesktopKeyBindings desktopBindings;
    native::DBusNotifier notifier;
    DesktopSupportServices desktopSupport{chosen.degraded};
    if (native::GnomeCustomKeybinding* gnome = display.gnomeShortcut) {
        desktopSupport.isShortcutAllowed = [gnome] { return gnome->isAllowed(); };
        desktopSupport.allowShortcut = [gnome, &defaults, &shortcuts] {
            defaults.setObject(gnomeShortcutAllowedKey, true);
            gnome->setAllowed(true);
            // Registered again, the shortcut is now written into GNOME's settings.
            if (shortcuts.isEnabled()) {
                shortcuts.setEnabled(false);
                shortcuts.setEnabled(true);
            }
        };
    }
    AppDelegate delegate(
        ShellServices{console, locations, taskbar, tray, loginItems, *display.clipboardWriter, *display.clipboardMonitor,
                      *display.workspace, clock, shortcuts, *display.keyboard, clicks, updater, launchReporter,
                      desktopBindings, notifier, desktopSupport, layerShell.get()},
        settings);
    QObject::connect(
        &delegate, &AppDelegate::terminationApproved, &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);

    TerminationSignals signals_;
    QObject::connect(&signals_, &TerminationSignals::received, &delegate, &AppDelegate::terminateForSystem);

    QObject::connect(
        &instance, &SingleInstance::requestReceived, &delegate,
        [&delegate](const QString& request, const InstanceReply& reply) {
            if (request == QLatin1String("toggle") || request == QLatin1String("settings")) {
                reply.send(QStringLiteral("ok"));
                if (request == QLatin1String("toggle"))
                    delegate.togglePanel();
                else
                    delegate.openSettings();
            } else if (const std::optional<EditCommand> command = commandFromRequest(request)) {
                delegate.perform(*command, [reply](const QString& answer) { reply.send(answer); });
            } else {
                reply.send(QStringLiteral("failed this Nimbrel does not know the request \"%1\"").arg(request));
            }
        });
    instance.listen();

    delegate.prepareStart();
    const bool showPanel = hasArgument(argc, argv, "--toggle");
    QTimer::singleShot(0, &delegate, [&delegate, showPanel, showSettings] {
        delegate.start();
        if (showSettings)
            delegate.openSettings();
        else if (showPanel)
            delegate.togglePanel();
    });
    return app.exec();
}
