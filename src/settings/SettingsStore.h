#pragma once

#include "report/LaunchReporter.h"
#include "settings/AppLanguage.h"
#include "settings/PackagerPolicy.h"
#include "settings/PanelMode.h"

#include <QLocale>
#include <QObject>

namespace nimbrel {

class Console;
class Defaults;
class LoginItemService;
class Translations;

// The user settings, loaded from the defaults at construction and written back on every
// assignment; observers are told only of real changes. The paste keys are edited by hand and only read.
// Keeps launch-at-login in agreement with the login-item service. One instance per process, made by the
// composition root. Main thread only.
class SettingsStore final : public QObject {
    Q_OBJECT
    Q_PROPERTY(nimbrel::PanelMode panelMode READ panelMode WRITE setPanelMode NOTIFY panelModeChanged)
    Q_PROPERTY(qint64 maxStorageMB READ maxStorageMB WRITE setMaxStorageMB NOTIFY maxStorageMBChanged)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY launchAtLoginChanged)
    Q_PROPERTY(nimbrel::AppLanguage language READ language WRITE setLanguage NOTIFY languageChanged)
    Q_PROPERTY(bool recordPrimarySelection READ recordPrimarySelection WRITE setRecordPrimarySelection NOTIFY
                   recordPrimarySelectionChanged)
    Q_PROPERTY(bool sendsLaunchReport READ sendsLaunchReport WRITE setSendsLaunchReport NOTIFY sendsLaunchReportChanged)
    Q_PROPERTY(bool checksForUpdates READ checksForUpdates WRITE setChecksForUpdates NOTIFY checksForUpdatesChanged)
public:
    static inline const QString panelModeKey = QStringLiteral("Nimbrel.panelMode");
    static inline const QString maxStorageMBKey = QStringLiteral("Nimbrel.maxStorageMB");
    static inline const QString launchAtLoginKey = QStringLiteral("Nimbrel.launchAtLogin");
    static inline const QString languageKey = QStringLiteral("Nimbrel.language");
    static inline const QString recordPrimarySelectionKey = QStringLiteral("Nimbrel.recordPrimarySelection");
    static inline const QString appleLanguagesKey = QStringLiteral("AppleLanguages");
    static inline const QString pasteKeysKey = QStringLiteral("Nimbrel.pasteKeys");
    static inline const QString noTrayExplainedKey = QStringLiteral("Nimbrel.noTrayExplained");
    static inline const QString sendLaunchReportKey = QStringLiteral("Nimbrel.sendLaunchReport");
    static inline const QString checkForUpdatesKey = QStringLiteral("Nimbrel.checkForUpdates");
    static inline const QString excludedApplicationsKey = QStringLiteral("Nimbrel.excludedApplications");
    // Set only for a pause without an end: a pause of some minutes ends with the process that made it.
    static inline const QString recordingPausedKey = QStringLiteral("Nimbrel.recordingPaused");

    // `packager` says what the package turned off (lines about it go to the console).
    SettingsStore(Defaults& defaults, LoginItemService& loginItems, Console& console, const Translations& translations,
                  PackagerPolicy packager = packagerPolicyFromEnvironment(), QObject* parent = nullptr);

    PanelMode panelMode() const { return m_panelMode; }
    void setPanelMode(PanelMode mode);
    // Writes pending settings now (before an ending that cannot wait for the usual write).
    bool synchronize();
    qint64 maxStorageMB() const { return m_maxStorageMB; }
    void setMaxStorageMB(qint64 megabytes);
    bool launchAtLogin() const { return m_launchAtLogin; }
    void setLaunchAtLogin(bool enabled);
    AppLanguage language() const { return m_language; }
    void setLanguage(AppLanguage language);
    // Whether mouse selections (the primary selection) are recorded as well as copies; off by default.
    bool recordPrimarySelection() const { return m_recordPrimarySelection; }
    void setRecordPrimarySelection(bool enabled);
    // The desktop ids (or window classes) of the applications whose copies are never read, in the order
    // the user added them; blanks and repeats (compared without case) are dropped when set.
    QStringList excludedApplications() const { return m_excludedApplications; }
    void setExcludedApplications(const QStringList& applications);
    // Whether recording stays paused across a restart (a pause without an end).
    bool recordingPaused() const;
    void setRecordingPaused(bool paused);
    // Whether the user was once told how to reach Nimbrel on a desktop without a tray.
    bool noTrayExplained() const;
    void setNoTrayExplained();
    // The user's leave for the launch report and for the update check; both on by default. A value in the
    // settings file that is neither a Boolean nor a number turns the feature off, with a console line at start.
    bool sendsLaunchReport() const { return m_sendsLaunchReport; }
    void setSendsLaunchReport(bool enabled);
    bool checksForUpdates() const { return m_checksForUpdates; }
    void setChecksForUpdates(bool enabled);
    // What the package turned off; it stays off whatever the settings say.
    const PackagerPolicy& packagerPolicy() const { return m_packager; }
    // Whether the feature may reach the network now: the user's leave and the package's.
    bool launchReportAllowed() const { return m_sendsLaunchReport && !m_packager.launchReportOff; }
    bool updateCheckAllowed() const { return m_checksForUpdates && !m_packager.updateCheckOff; }
    // Where the one launch report stands, as the settings file records it.
    LaunchReportStatus launchReportStatus() const;
    bool isSyncingLaunchAtLogin() const { return m_isSyncingLaunchAtLogin; }
    // The paste key per application ({"kitty": "Ctrl+Shift+V"}) as stored, unchecked; read afresh at each
    // call, so an edit of the settings file applies from the next paste on.
    QVariant pasteKeys() const;

    // Makes launchAtLogin agree with the state read from the login-item service, asking it nothing.
    void adoptLoginItemStatus(bool actual);

    // The locale the interface renders in: the system's for `system`, else the chosen language's.
    QLocale locale() const;
    // The translation of an interface key in the chosen language (the main language for `system`, or
    // when the chosen language has no table); the key itself when the table has no entry.
    QString localized(const QString& key) const;
    // The string tables, for texts that stay in the language the process started with.
    const Translations& translations() const { return m_translations; }
    // Writes (or, for `system`, removes) the per-application language override "AppleLanguages".
    void applyLanguageOverride();

    // Clamps into 100…1000 and rounds down to a multiple of 100.
    static qint64 clampBudget(qint64 megabytes);

Q_SIGNALS:
    void panelModeChanged();
    void maxStorageMBChanged();
    void launchAtLoginChanged();
    void languageChanged();
    void recordPrimarySelectionChanged();
    void excludedApplicationsChanged();
    void sendsLaunchReportChanged();
    void checksForUpdatesChanged();
    // Emitted on behalf of the launch reporter (the composition root forwards its statusChanged).
    void launchReportStatusChanged();

private:
    void syncLaunchAtLogin(bool value);
    // A Boolean setting that is on when absent (a number counts as in Defaults::boolean); any other value
    // reads as off and is reported.
    bool readSwitchOnByDefault(const QString& key, const QString& feature);

    Defaults& m_defaults;
    LoginItemService& m_loginItems;
    Console& m_console;
    const Translations& m_translations;
    bool m_isSyncingLaunchAtLogin = false;
    PanelMode m_panelMode = PanelMode::bottom;
    qint64 m_maxStorageMB = 200;
    bool m_launchAtLogin = false;
    AppLanguage m_language = AppLanguage::system;
    bool m_recordPrimarySelection = false;
    QStringList m_excludedApplications;
    bool m_sendsLaunchReport = true;
    bool m_checksForUpdates = true;
    PackagerPolicy m_packager;
};

// Asks the login-item service to match `wanted`; true when its state now matches. A refused
// registration writes "[Nimbrel] LaunchAtLogin error: " and the error's text.
bool applyLoginItem(LoginItemService& service, Console& console, bool wanted);

}  // namespace nimbrel
