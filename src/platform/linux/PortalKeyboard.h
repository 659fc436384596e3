#pragma once

#include "platform/KeyboardSynthesizer.h"
#include "platform/linux/PortalRequests.h"

#include <QDBusConnection>
#include <QObject>
#include <QTimer>
#include <QVariantMap>

#include <chrono>

class QDBusMessage;
class QDBusPendingCallWatcher;

namespace nimbrel {
class Console;
class Defaults;
}  // namespace nimbrel

namespace nimbrel::native {

// How long PortalKeyboard waits for the portal.
struct PortalTiming {
    // An answer to a method call.
    std::chrono::milliseconds reply{10'000};
    // Opening the session, the user's answer to the permission dialog included.
    std::chrono::milliseconds opening{120'000};
};

// Types keys through the desktop portal's remote desktop interface, for Wayland desktops that offer no
// virtual keyboard to ordinary clients. The desktop asks the user once; the session is opened at the first
// paste (or by prepare()), the keys wait until the user has allowed it, and the restore token the portal
// hands back lets later runs open the session without asking again.
//
// When the user declines, the portal is missing or stops answering, one console line says so and paste-back
// stays off for the rest of the run: isAvailable() turns false and nothing is asked again. A session the
// desktop closes later is opened again at the next paste when a restore token spares the user the dialog;
// without one, paste-back goes off the same way. Every call to the portal is asynchronous; nothing here waits
// for it on the calling thread.
class PortalKeyboard final : public QObject, public KeyboardSynthesizer {
    Q_OBJECT
public:
    // The restore token of the last session the user allowed; single-use, replaced at every start.
    static inline const QString restoreTokenKey = QStringLiteral("Nimbrel.remoteDesktopRestoreToken");

    // `portalVersion` is the version of org.freedesktop.portal.RemoteDesktop the desktop offers (0: none),
    // as the start-up probe read it; tokens need version 2.
    PortalKeyboard(QDBusConnection bus, quint32 portalVersion, Defaults& defaults, Console& console,
                   PortalTiming timing = {}, QObject* parent = nullptr);
    ~PortalKeyboard() override;

    bool isAvailable() const override;
    // The portal reports nothing of the physical keyboard: modifiers are never known to be held, so a
    // paste chord may reach the application while the user still holds the panel's shortcut.
    bool modifiersHeld() const override { return false; }
    // Time for the user to let go of the keys that chose the record and for the keyboard to come back to the
    // application behind the panel.
    int settleMs() const override { return 250; }
    // Sends the keys at once when the session runs; otherwise opens it (the first time, the desktop asks the
    // user) and sends them once it has started.
    void post(const QList<SyntheticKey>& keys) override;
    // Opens the session ahead of the first paste when a restore token is stored, so no dialog appears then.
    // Without a token it does nothing: the question belongs to the moment the user first pastes.
    void prepare();

private:
    enum class State { idle, opening, running, off };
    enum class Step { createSession, selectDevices, start };

    void open();
    void request(Step step, const QString& method, QVariantList arguments, QVariantMap options);
    void requestReturned(QDBusPendingCallWatcher* watcher, quint64 generation);
    void keyReturned(QDBusPendingCallWatcher* watcher, quint64 generation);
    void started(const QVariantMap& results);
    void sendQueued();
    void watchRequest(const QString& path);
    // The session ended under a running keyboard: with a token the next paste reopens it quietly.
    void sessionLost(const QString& why, bool keysLost);
    // Paste-back is off for this run; the keys waiting are dropped.
    void giveUp(const QString& why);

private Q_SLOTS:
    void onResponse(uint code, const QVariantMap& results, const QDBusMessage& message);
    void onSessionClosed(const QVariantMap& details, const QDBusMessage& message);

private:
    QDBusConnection m_bus;
    quint32 m_version;
    Defaults& m_defaults;
    Console& m_console;
    PortalTiming m_timing;
    State m_state = State::idle;
    Step m_step = Step::createSession;
    // Bumped whenever an opening or a session ends, so late answers to it are recognised and ignored.
    quint64 m_generation = 0;
    portal::Object m_request;
    portal::Object m_session;
    QList<SyntheticKey> m_queued;
    QTimer m_openingDeadline;
};

}  // namespace nimbrel::native
