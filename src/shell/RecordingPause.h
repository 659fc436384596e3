#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <optional>

namespace nimbrel {

class Clock;
class SettingsStore;

// Whether copies are recorded now. A pause without an end is kept across restarts (it was the user's
// choice until further notice); a pause of some minutes ends by itself, and with the process.
class RecordingPause final : public QObject {
    Q_OBJECT
public:
    // The longest pause with an end: a day. Longer is a pause without one.
    static constexpr int maximumMinutes = 24 * 60;

    RecordingPause(SettingsStore& settings, const Clock& clock, QObject* parent = nullptr);

    bool isPaused() const { return m_paused; }
    // When a pause with an end ends; none while recording, or for a pause without an end.
    std::optional<QDateTime> endsAt() const { return m_endsAt; }

    // Pauses until resume(), or for `duration`; a second pause replaces the first.
    void pause(std::optional<std::chrono::milliseconds> duration = std::nullopt);
    void resume();

Q_SIGNALS:
    void changed();

private:
    SettingsStore& m_settings;
    const Clock& m_clock;
    QTimer m_end;
    bool m_paused = false;
    std::optional<QDateTime> m_endsAt;
};

}  // namespace nimbrel
