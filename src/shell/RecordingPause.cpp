#include "shell/RecordingPause.h"

#include "platform/Clock.h"
#include "settings/SettingsStore.h"

namespace nimbrel {

RecordingPause::RecordingPause(SettingsStore& settings, const Clock& clock, QObject* parent)
    : QObject(parent), m_settings(settings), m_clock(clock), m_paused(settings.recordingPaused())
{
    m_end.setSingleShot(true);
    connect(&m_end, &QTimer::timeout, this, &RecordingPause::resume);
}

void RecordingPause::pause(std::optional<std::chrono::milliseconds> duration)
{
    m_paused = true;
    if (duration) {
        m_end.start(*duration);
        m_endsAt = m_clock.now().addMSecs(duration->count());
    } else {
        m_end.stop();
        m_endsAt.reset();
    }
    // Only a pause without an end outlives the process.
    m_settings.setRecordingPaused(!duration);
    Q_EMIT changed();
}

void RecordingPause::resume()
{
    m_end.stop();
    m_endsAt.reset();
    const bool was = m_paused;
    m_paused = false;
    m_settings.setRecordingPaused(false);
    if (was)
        Q_EMIT changed();
}

}  // namespace nimbrel
