#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>

namespace nimbrel {

class Defaults;
class HttpClient;
class SystemLog;

// What a launch report says about the machine.
struct LaunchFacts {
    QString language;   // a language tag, or "und"
    QString osVersion;  // three numbers joined by dots
};

// The first preferred language; "und" when there is none (the C and POSIX locales name none).
QString preferredLanguageTag(const QStringList& uiLanguages);
// The leading "major.minor.patch" of a kernel release such as "6.1.0-18-amd64"; missing parts are 0.
QString osVersionString(const QString& kernelRelease);
// This machine's language and kernel version.
LaunchFacts systemLaunchFacts();

// Where the one launch report stands: still to be sent, sent (a 2xx answer), or declined for good.
enum class LaunchReportStatus { pending, sent, declined };
// Read from the settings: "Nimbrel.didReportLaunch", else "Nimbrel.didDeclineLaunchReport".
LaunchReportStatus launchReportStatus(const Defaults& defaults);

// Sends one report of the first launch to the report host, then never again; until a report is
// accepted (any 2xx answer) it tries once per start. A start at which the report may not be sent declines
// it for good. One instance per process, made by the composition root. Main thread only; the request runs
// in the background and never reaches the user.
class LaunchReporter final : public QObject {
    Q_OBJECT
public:
    static inline const QString didReportLaunchKey = QStringLiteral("Nimbrel.didReportLaunch");
    static inline const QString installIDKey = QStringLiteral("Nimbrel.installID");
    static inline const QString didDeclineLaunchReportKey = QStringLiteral("Nimbrel.didDeclineLaunchReport");
    static constexpr std::chrono::seconds timeout{10};

    // The report address: NIMBREL_REPORT_URL when set, else the build's report host.
    static QUrl defaultEndpoint();

    LaunchReporter(HttpClient& http, Defaults& defaults, SystemLog& log, QUrl endpoint = defaultEndpoint(),
                   LaunchFacts facts = systemLaunchFacts(), QObject* parent = nullptr);

    // Sends the report when `allowed`, unless it was sent or declined before; returns at once. Not allowed
    // while the report is pending, it is declined: never sent, at this start or a later one, even once
    // allowed again, and the installation identifier kept for it is deleted. A decline is the user's
    // answer to the one question the report asks; it is not asked again behind their back.
    void report(bool allowed);
    LaunchReportStatus status() const { return launchReportStatus(m_defaults); }
    // The stored installation identifier, created (an upper-case UUID) and stored on first need.
    QString loadInstallID();
    // The JSON body: {"install_id":…,"language":…,"os_version":…}, compact.
    QByteArray body(const QString& installID) const;

    QUrl endpoint() const { return m_endpoint; }

Q_SIGNALS:
    // A sent report has been answered or has failed.
    void finished();
    // The report was accepted or declined.
    void statusChanged();

private:
    HttpClient& m_http;
    Defaults& m_defaults;
    SystemLog& m_log;
    const QUrl m_endpoint;
    const LaunchFacts m_facts;
};

}  // namespace nimbrel
