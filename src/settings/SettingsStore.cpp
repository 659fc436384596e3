#include "settings/SettingsStore.h"

#include "platform/Console.h"
#include "platform/Defaults.h"
#include "platform/LoginItemService.h"
#include "settings/Translations.h"

#include <algorithm>
#include <utility>

namespace nimbrel {

namespace {
constexpr qint64 defaultBudgetMB = 200;
constexpr qint64 minimumBudgetMB = 100;
constexpr qint64 maximumBudgetMB = 1000;

QStringList cleanedApplicationList(const QStringList& applications)
{
    QStringList cleaned;
    for (const QString& application : applications) {
        const QString id = application.trimmed();
        if (!id.isEmpty() && !cleaned.contains(id, Qt::CaseInsensitive))
            cleaned.append(id);
    }
    return cleaned;
}
constexpr qint64 budgetStepMB = 100;
}  // namespace

SettingsStore::SettingsStore(Defaults& defaults, LoginItemService& loginItems, Console& console,
                             const Translations& translations, PackagerPolicy packager, QObject* parent)
    : QObject(parent),
      m_defaults(defaults),
      m_loginItems(loginItems),
      m_console(console),
      m_translations(translations),
      m_packager(std::move(packager))
{
    // Loading fills the members directly: reading a value must neither write it back nor touch the
    // login item (start-up reconciles that separately, once the application has launched).
    m_isSyncingLaunchAtLogin = false;
    m_panelMode = panelModeFromRaw(m_defaults.string(panelModeKey).value_or(QString())).value_or(PanelMode::bottom);
    m_maxStorageMB = clampBudget(m_defaults.integer(maxStorageMBKey).value_or(defaultBudgetMB));
    m_launchAtLogin = m_defaults.boolean(launchAtLoginKey);
    m_recordPrimarySelection = m_defaults.boolean(recordPrimarySelectionKey);
    m_excludedApplications =
        cleanedApplicationList(m_defaults.stringList(excludedApplicationsKey).value_or(QStringList()));
    m_language = appLanguageFromRaw(m_defaults.string(languageKey).value_or(QString())).value_or(AppLanguage::system);
    m_sendsLaunchReport = readSwitchOnByDefault(sendLaunchReportKey, QStringLiteral("the launch report"));
    m_checksForUpdates = readSwitchOnByDefault(checkForUpdatesKey, QStringLiteral("the update check"));
    for (const QString& line : m_packager.problems)
        m_console.line(line);
    if (m_packager.launchReportOff)
        m_console.line(QStringLiteral("[Nimbrel] %1 is set: no launch report is sent")
                           .arg(QLatin1String(PackagerPolicy::noLaunchReportVariable)));
    if (m_packager.updateCheckOff)
        m_console.line(QStringLiteral("[Nimbrel] %1 is set: no update check is made")
                           .arg(QLatin1String(PackagerPolicy::noUpdateCheckVariable)));
    // Corrects a changed or missing override before any window appears; no flush needed here.
    applyLanguageOverride();
}

void SettingsStore::setPanelMode(PanelMode mode)
{
    const bool changed = mode != m_panelMode;
    m_panelMode = mode;
    m_defaults.setString(panelModeKey, rawValue(mode));
    if (changed)
        Q_EMIT panelModeChanged();
}

void SettingsStore::setExcludedApplications(const QStringList& applications)
{
    const QStringList cleaned = cleanedApplicationList(applications);
    if (cleaned == m_excludedApplications)
        return;
    m_excludedApplications = cleaned;
    m_defaults.setStringList(excludedApplicationsKey, cleaned);
    Q_EMIT excludedApplicationsChanged();
}

bool SettingsStore::recordingPaused() const
{
    return m_defaults.boolean(recordingPausedKey);
}

void SettingsStore::setRecordingPaused(bool paused)
{
    m_defaults.setBool(recordingPausedKey, paused);
}

bool SettingsStore::noTrayExplained() const
{
    return m_defaults.boolean(noTrayExplainedKey);
}

void SettingsStore::setNoTrayExplained()
{
    m_defaults.setBool(noTrayExplainedKey, true);
}

void SettingsStore::setRecordPrimarySelection(bool enabled)
{
    const bool changed = enabled != m_recordPrimarySelection;
    m_recordPrimarySelection = enabled;
    m_defaults.setBool(recordPrimarySelectionKey, enabled);
    if (changed)
        Q_EMIT recordPrimarySelectionChanged();
}

bool SettingsStore::readSwitchOnByDefault(const QString& key, const QString& feature)
{
    const QVariant stored = m_defaults.object(key);
    if (!stored.isValid())
        return true;
    if (stored.typeId() == QMetaType::Bool || m_defaults.integer(key))
        return m_defaults.boolean(key);
    // Whoever wrote something there most likely meant "off"; guessing "on" could send what they refused.
    m_console.line(QStringLiteral("[Nimbrel] %1 in the settings is not true or false; %2 is off").arg(key, feature));
    return false;
}

void SettingsStore::setSendsLaunchReport(bool enabled)
{
    const bool changed = enabled != m_sendsLaunchReport;
    m_sendsLaunchReport = enabled;
    m_defaults.setBool(sendLaunchReportKey, enabled);
    if (changed)
        Q_EMIT sendsLaunchReportChanged();
}

void SettingsStore::setChecksForUpdates(bool enabled)
{
    const bool changed = enabled != m_checksForUpdates;
    m_checksForUpdates = enabled;
    m_defaults.setBool(checkForUpdatesKey, enabled);
    if (changed)
        Q_EMIT checksForUpdatesChanged();
}

LaunchReportStatus SettingsStore::launchReportStatus() const
{
    return nimbrel::launchReportStatus(m_defaults);
}

void SettingsStore::setMaxStorageMB(qint64 megabytes)
{
    const qint64 clamped = clampBudget(megabytes);
    if (clamped != megabytes) {
        // The value is replaced by its clamped form: only allowed budgets are ever held or stored.
        setMaxStorageMB(clamped);
        return;
    }
    const bool changed = megabytes != m_maxStorageMB;
    m_maxStorageMB = megabytes;
    m_defaults.setInteger(maxStorageMBKey, megabytes);
    if (changed)
        Q_EMIT maxStorageMBChanged();
}

QVariant SettingsStore::pasteKeys() const
{
    return m_defaults.object(pasteKeysKey);
}

void SettingsStore::setLaunchAtLogin(bool enabled)
{
    const bool changed = enabled != m_launchAtLogin;
    m_launchAtLogin = enabled;
    syncLaunchAtLogin(enabled);
    if (changed)
        Q_EMIT launchAtLoginChanged();
}

void SettingsStore::syncLaunchAtLogin(bool value)
{
    if (m_isSyncingLaunchAtLogin) {
        m_defaults.setBool(launchAtLoginKey, value);
        return;
    }
    (void)applyLoginItem(m_loginItems, m_console, value);
    const bool actual = m_loginItems.status() == LoginItemStatus::enabled;
    if (actual == value) {
        m_defaults.setBool(launchAtLoginKey, actual);
        return;
    }
    // The service refused or failed: the setting snaps back to what it really did,
    // and the guard keeps the correction from asking the service again.
    m_isSyncingLaunchAtLogin = true;
    setLaunchAtLogin(actual);
    m_isSyncingLaunchAtLogin = false;
}

void SettingsStore::setLanguage(AppLanguage language)
{
    const bool changed = language != m_language;
    m_language = language;
    m_defaults.setString(languageKey, rawValue(language));
    applyLanguageOverride();
    // The override is read before the next start's first window, so it must not wait in memory.
    (void)m_defaults.synchronize();
    if (changed)
        Q_EMIT languageChanged();
}

void SettingsStore::adoptLoginItemStatus(bool actual)
{
    if (actual == m_launchAtLogin) {
        m_defaults.setBool(launchAtLoginKey, actual);
        return;
    }
    m_isSyncingLaunchAtLogin = true;
    setLaunchAtLogin(actual);
    m_isSyncingLaunchAtLogin = false;
}

QLocale SettingsStore::locale() const
{
    if (m_language == AppLanguage::system)
        return QLocale::system();
    // Qt spells locale names with underscores ("zh_Hant"), the stored codes with hyphens.
    QString name = rawValue(m_language);
    name.replace(QLatin1Char('-'), QLatin1Char('_'));
    return QLocale(name);
}

QString SettingsStore::localized(const QString& key) const
{
    switch (m_language) {
        case AppLanguage::system:
            break;
        case AppLanguage::zhHans:
            // The keys are the Simplified Chinese texts themselves; a table, if one is ever shipped, may
            // only add texts whose key is not Chinese.
            return m_translations.translate(rawValue(m_language), key).value_or(key);
        case AppLanguage::zhHant:
        case AppLanguage::en:
        case AppLanguage::ja:
        case AppLanguage::ko:
            if (const auto text = m_translations.translate(rawValue(m_language), key))
                return *text;
            break;
    }
    return m_translations.translateMain(key);
}

void SettingsStore::applyLanguageOverride()
{
    if (m_language == AppLanguage::system)
        m_defaults.removeObject(appleLanguagesKey);
    else
        m_defaults.setStringList(appleLanguagesKey, QStringList{rawValue(m_language)});
}

qint64 SettingsStore::clampBudget(qint64 megabytes)
{
    const qint64 clamped = std::clamp(megabytes, minimumBudgetMB, maximumBudgetMB);
    return clamped - clamped % budgetStepMB;
}

bool applyLoginItem(LoginItemService& service, Console& console, bool wanted)
{
    std::optional<Result<void>> outcome;
    switch (service.status()) {
        case LoginItemStatus::notRegistered:
            if (wanted)
                outcome = service.registerItem();
            break;
        case LoginItemStatus::enabled:
            if (!wanted)
                outcome = service.unregisterItem();
            break;
    }
    if (outcome && !outcome->ok()) {
        console.line(QStringLiteral("[Nimbrel] LaunchAtLogin error: ") + outcome->error().description);
        return false;
    }
    return wanted == (service.status() == LoginItemStatus::enabled);
}

bool SettingsStore::synchronize()
{
    return m_defaults.synchronize();
}

}  // namespace nimbrel
