#pragma once

// Test doubles of the platform services. They record what they were asked and answer what the test set.

#include "platform/TaskbarPresence.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/Defaults.h"
#include "platform/FileLocations.h"
#include "platform/LayerShell.h"
#include "platform/LoginItemService.h"
#include "platform/Notifier.h"
#include "platform/SystemLog.h"
#include "platform/TrayItem.h"
#include "platform/Workspace.h"

#include <QIcon>
#include <QMap>
#include <QStringList>
#include <QTimeZone>
#include <QWindow>

#include <optional>

class QMenu;

namespace nimbrel::fake {

class MemoryDefaults final : public Defaults {
public:
    QVariant object(const QString& key) const override { return values.value(key); }
    void setObject(const QString& key, const QVariant& value) override
    {
        values.insert(key, value);
        ++writes;
    }
    void removeObject(const QString& key) override
    {
        values.remove(key);
        ++writes;
    }
    bool synchronize() override
    {
        ++synchronizations;
        return true;
    }

    QMap<QString, QVariant> values;
    int writes = 0;
    int synchronizations = 0;
};

class LoginItems final : public LoginItemService {
public:
    LoginItemStatus status() const override
    {
        ++statusReads;
        return currentStatus;
    }
    Result<void> registerItem() override
    {
        ++registrations;
        if (registerError)
            return Error{*registerError};
        currentStatus = statusAfterRegister;
        return {};
    }
    Result<void> unregisterItem() override
    {
        ++unregistrations;
        if (unregisterError)
            return Error{*unregisterError};
        currentStatus = LoginItemStatus::notRegistered;
        return {};
    }

    LoginItemStatus currentStatus = LoginItemStatus::notRegistered;
    LoginItemStatus statusAfterRegister = LoginItemStatus::enabled;
    std::optional<QString> registerError;
    std::optional<QString> unregisterError;
    mutable int statusReads = 0;
    int registrations = 0;
    int unregistrations = 0;
};

class RecordingConsole final : public Console {
public:
    void line(const QString& text) override { lines.append(text); }
    QStringList lines;
};

class RecordingSystemLog final : public SystemLog {
public:
    void write(const QString& line) override { lines.append(line); }
    QStringList lines;
};

class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime::fromSecsSinceEpoch(1'767'225'600, QTimeZone::utc()))
        : current(std::move(start))
    {
    }
    QDateTime now() const override { return current; }
    void advance(qint64 milliseconds) { current = current.addMSecs(milliseconds); }
    QDateTime current;
};

// Locations below one folder, usually a QTemporaryDir of the test.
class Locations final : public FileLocations {
public:
    explicit Locations(QString root) : m_root(std::move(root)) {}
    QString dataHome() const override { return m_root + QStringLiteral("/data"); }
    QString configDirectory() const override { return m_root + QStringLiteral("/config"); }
    QString runtimeDirectory() const override { return m_root + QStringLiteral("/run"); }

private:
    QString m_root;
};

class Taskbar final : public TaskbarPresence {
public:
    void setTaskbarEntry(TaskbarEntry p) override
    {
        current = p;
        history.append(p);
    }
    TaskbarEntry taskbarEntry() const override { return current; }
    TaskbarEntry current = TaskbarEntry::shown;
    QList<TaskbarEntry> history;
};

class Tray final : public TrayItem {
public:
    void setIcon(const QIcon& i) override { icon = i; }
    void setToolTip(const QString& text) override { toolTip = text; }
    void setMenu(QMenu* m) override { menu = m; }
    void show() override { shown = true; }
    bool isAvailable() const override { return available; }

    QIcon icon;
    QString toolTip;
    QMenu* menu = nullptr;
    bool shown = false;
    bool available = true;
};

// Records which windows were placed on layers and how; says yes to every one.
class RecordingLayerShell final : public LayerShell {
public:
    struct Attached {
        QWindow* window;
        Placement placement;
        std::function<void()> closed;
    };
    bool attach(QWindow* window, const Placement& placement, std::function<void()> closed = {}) override
    {
        attached.append({window, placement, std::move(closed)});
        return true;
    }
    void detach(QWindow* window) override { detached.append({window, isMapped(window)}); }
    // Whether the window was still shown when its layer went, as the role's order requires.
    static bool isMapped(QWindow* window) { return window && window->isVisible(); }
    QList<Attached> attached;
    QList<std::pair<QWindow*, bool>> detached;
};

class RecordingNotifier final : public Notifier {
public:
    void notify(const QString& title, const QString& body) override { shown.append({title, body}); }
    QList<std::pair<QString, QString>> shown;
};

class FakeWorkspace final : public Workspace {
public:
    std::optional<RunningApplication> frontmostApplication() const override { return frontmost; }
    QList<RunningApplication> runningApplications() const override { return running; }
    std::optional<QRect> activeWindowFrame() const override { return activeFrame; }
    QString ownApplicationId() const override { return QStringLiteral("org.nimbrel.Nimbrel"); }
    std::optional<QIcon> applicationIcon(const QString& applicationId) const override
    {
        ++iconLookups;
        const auto found = installedApplications.constFind(applicationId);
        if (found == installedApplications.cend())
            return std::nullopt;
        return *found;
    }
    std::optional<QString> applicationName(const QString& applicationId) const override
    {
        const auto found = applicationNames.constFind(applicationId);
        if (found == applicationNames.cend())
            return std::nullopt;
        return *found;
    }
    bool openURL(const QUrl& url) const override
    {
        openedURLs.append(url);
        return true;
    }

    std::optional<RunningApplication> frontmost;
    std::optional<QRect> activeFrame;
    QList<RunningApplication> running;
    // Installed applications by desktop id, with their icons and names.
    QMap<QString, QIcon> installedApplications;
    QMap<QString, QString> applicationNames;
    mutable int iconLookups = 0;
    mutable QList<QUrl> openedURLs;
};

}  // namespace nimbrel::fake
