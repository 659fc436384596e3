#pragma once

// Test doubles of the platform services. They record what they were asked and answer what the test set.

#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/Defaults.h"
#include "platform/FileLocations.h"
#include "platform/LoginItemService.h"
#include "platform/Notifier.h"
#include "platform/SystemLog.h"
#include "platform/TaskbarPresence.h"
#include "platform/TrayItem.h"
#include "platform/Workspace.h"

#include <QIcon>
#include <QMap>
#include <QStringList>
#include <QTimeZone>

#include <optional>

class QMenu;

namespace nimbrel::fake {

class MemoryDefaults final : public Defaults {
public:
    QVariant object(const QString& key) const override { return values.value(key); }
    void setObject(const QString& key, const QVariant& value) override { ++writes, values.insert(key, value); }
    void removeObject(const QString& key) override { ++writes, values.remove(key); }
    bool synchronize() override { return ++synchronizations > 0; }

    QMap<QString, QVariant> values;
    int writes = 0;
    int synchronizations = 0;
};

class LoginItems final : public LoginItemService {
public:
    LoginItemStatus status() const override { return ++statusReads, currentStatus; }
    Result<void> registerItem() override { return ++registrations, become(statusAfterRegister, registerError); }
    Result<void> unregisterItem() override
    {
        return ++unregistrations, become(LoginItemStatus::notRegistered, unregisterError);
    }

    LoginItemStatus currentStatus = LoginItemStatus::notRegistered;
    LoginItemStatus statusAfterRegister = LoginItemStatus::enabled;
    std::optional<QString> registerError, unregisterError;
    mutable int statusReads = 0;
    int registrations = 0, unregistrations = 0;

private:
    // The status a call leaves, unless it fails.
    Result<void> become(LoginItemStatus after, const std::optional<QString>& error)
    {
        if (error)
            return Error{*error};
        currentStatus = after;
        return {};
    }
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
    void setTaskbarEntry(TaskbarEntry entry) override { current = entry; }
    TaskbarEntry taskbarEntry() const override { return current; }
    TaskbarEntry current = TaskbarEntry::shown;
};

// Always there; keeps the menu for the test to open.
class Tray final : public TrayItem {
public:
    void setIcon(const QIcon&) override {}
    void setToolTip(const QString&) override {}
    void setMenu(QMenu* m) override { menu = m; }
    void show() override {}
    bool isAvailable() const override { return true; }
    QMenu* menu = nullptr;
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
    std::optional<QRect> activeWindowFrame() const override { return std::nullopt; }
    QString ownApplicationId() const override { return QStringLiteral("org.nimbrel.Nimbrel"); }
    std::optional<QIcon> applicationIcon(const QString& applicationId) const override
    {
        return ++iconLookups, lookup(installedApplications, applicationId);
    }
    std::optional<QString> applicationName(const QString& applicationId) const override
    {
        return lookup(applicationNames, applicationId);
    }
    bool openURL(const QUrl&) const override { return true; }

    std::optional<RunningApplication> frontmost;
    QList<RunningApplication> running;
    // Installed applications by desktop id, with their icons and names.
    QMap<QString, QIcon> installedApplications;
    QMap<QString, QString> applicationNames;
    mutable int iconLookups = 0;

private:
    template <typename T>
    static std::optional<T> lookup(const QMap<QString, T>& map, const QString& key)
    {
        return map.contains(key) ? std::optional(map.value(key)) : std::nullopt;
    }
};

}  // namespace nimbrel::fake
