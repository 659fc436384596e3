#include "report/LaunchReporter.h"

#include "platform/Defaults.h"
#include "platform/HttpClient.h"
#include "platform/SystemLog.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QPointer>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUuid>

#include <sys/utsname.h>

namespace nimbrel {

QString preferredLanguageTag(const QStringList& uiLanguages)
{
    if (uiLanguages.isEmpty())
        return QStringLiteral("und");
    const QString& first = uiLanguages.first();
    if (first.isEmpty() || first == QLatin1String("C") || first == QLatin1String("POSIX"))
        return QStringLiteral("und");
    return first;
}

QString osVersionString(const QString& kernelRelease)
{
    static const QRegularExpression leadingVersion(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    const QRegularExpressionMatch match = leadingVersion.match(kernelRelease);
    QStringList parts;
    for (int i = 1; i <= 3; ++i) {
        // Digits only, so this cannot fail except by overflow, which reads as 0 like a missing part.
        parts.append(QString::number(match.hasMatch() ? match.captured(i).toULongLong() : 0));
    }
    return parts.join(QLatin1Char('.'));
}

LaunchFacts systemLaunchFacts()
{
    struct utsname system {};
    const QString release = ::uname(&system) == 0 ? QString::fromUtf8(system.release) : QString();
    return {preferredLanguageTag(QLocale::system().uiLanguages()), osVersionString(release)};
}

LaunchReportStatus launchReportStatus(const Defaults& defaults)
{
    if (defaults.boolean(LaunchReporter::didReportLaunchKey))
        return LaunchReportStatus::sent;
    if (defaults.boolean(LaunchReporter::didDeclineLaunchReportKey))
        return LaunchReportStatus::declined;
    return LaunchReportStatus::pending;
}

QUrl LaunchReporter::defaultEndpoint()
{
    if (!qEnvironmentVariableIsEmpty("NIMBREL_REPORT_URL"))
        return QUrl(qEnvironmentVariable("NIMBREL_REPORT_URL"));
    return QUrl(QStringLiteral(NIMBREL_REPORT_URL_DEFAULT));
}

LaunchReporter::LaunchReporter(HttpClient& http, Defaults& defaults, SystemLog& log, QUrl endpoint, LaunchFacts facts,
                               QObject* parent)
    : QObject(parent),
      m_http(http),
      m_defaults(defaults),
      m_log(log),
      m_endpoint(std::move(endpoint)),
      m_facts(std::move(facts))
{
}

void LaunchReporter::report(bool allowed)
{
    if (status() != LaunchReportStatus::pending)
        return;
    if (!allowed) {
        m_defaults.setBool(didDeclineLaunchReportKey, true);
        // The identifier exists only for this report; declined, it has no use left.
        if (m_defaults.object(installIDKey).isValid())
            m_defaults.removeObject(installIDKey);
        m_defaults.synchronize();
        m_log.write(QStringLiteral("[Nimbrel] 启动上报已关闭：不发送，以后也不会发送"));
        Q_EMIT statusChanged();
        return;
    }
    const QByteArray request = body(loadInstallID());
    m_http.postJson(m_endpoint, request, timeout, [self = QPointer<LaunchReporter>(this)](Result<HttpResponse> answer) {
        if (!self)
            return;
        if (!answer) {
            self->m_log.write(QStringLiteral("[Nimbrel] 启动上报失败，下次启动重试：") + answer.error().description);
        } else if (answer->statusCode >= 200 && answer->statusCode <= 299) {
            self->m_defaults.setBool(didReportLaunchKey, true);
            self->m_defaults.synchronize();
            Q_EMIT self->statusChanged();
        } else {
            QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            QString text = decoder(answer->body);
            if (decoder.hasError())
                text.clear();
            self->m_log.write(QStringLiteral("[Nimbrel] 启动上报未成功（HTTP ") + QString::number(answer->statusCode) +
                              QStringLiteral("），下次启动重试：") + text);
        }
        Q_EMIT self->finished();
    });
}

QString LaunchReporter::loadInstallID()
{
    if (const std::optional<QString> stored = m_defaults.string(installIDKey))
        return *stored;
    const QString created = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    m_defaults.setString(installIDKey, created);
    m_defaults.synchronize();
    return created;
}

QByteArray LaunchReporter::body(const QString& installID) const
{
    // Qt writes keys in sorted order, which is also the order of the report's fields.
    const QJsonObject object{{QStringLiteral("install_id"), installID},
                             {QStringLiteral("language"), m_facts.language},
                             {QStringLiteral("os_version"), m_facts.osVersion}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

}  // namespace nimbrel
