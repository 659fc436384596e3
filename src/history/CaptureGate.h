#pragma once

#include "platform/Workspace.h"

#include <QMutex>
#include <QStringList>

#include <atomic>
#include <optional>

namespace nimbrel {

// Whether a clipboard change may be read at all: never while recording is paused, nor while an
// excluded application is in front. Set from the UI thread, asked on the monitor's thread.
class CaptureGate final {
public:
    void setPaused(bool paused) { m_paused = paused; }
    bool isPaused() const { return m_paused; }

    // Desktop ids ("org.gnome.TextEditor", with or without ".desktop") or window classes ("XTerm"),
    // compared without case.
    void setExcludedApplications(const QStringList& applications);
    bool excludes(const std::optional<RunningApplication>& application) const;

private:
    std::atomic<bool> m_paused = false;
    mutable QMutex m_mutex;
    QStringList m_excluded;
};

// Whether the entry the user wrote names this application.
bool namesApplication(const QString& entry, const RunningApplication& application);

}  // namespace nimbrel
