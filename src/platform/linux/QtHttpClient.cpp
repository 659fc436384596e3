#include "platform/linux/QtHttpClient.h"

#include <QDir>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <QTimer>

#include <memory>

namespace nimbrel::native {

namespace {

// Qt turns HTTP error statuses into reply errors; those are answers, not transport failures.
bool isHttpStatusError(QNetworkReply::NetworkError error)
{
    switch (error) {
        case QNetworkReply::ContentAccessDenied:
        case QNetworkReply::ContentOperationNotPermittedError:
        case QNetworkReply::ContentNotFoundError:
        case QNetworkReply::AuthenticationRequiredError:
        case QNetworkReply::ContentConflictError:
        case QNetworkReply::ContentGoneError:
        case QNetworkReply::UnknownContentError:
        case QNetworkReply::ProtocolInvalidOperationError:
        case QNetworkReply::InternalServerError:
        case QNetworkReply::OperationNotImplementedError:
        case QNetworkReply::ServiceUnavailableError:
        case QNetworkReply::UnknownServerError:
            return true;
        default:
            return false;
    }
}

std::optional<int> httpStatus(const QNetworkReply* reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return std::nullopt;
    return status.toInt();
}

// An answer shorter than its announced length was cut off, whatever the connection reported.
std::optional<QString> truncation(const QNetworkReply* reply, qint64 received)
{
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (!announced.isValid() || announced.toLongLong() == received)
        return std::nullopt;
    return QStringLiteral("The transfer ended after %1 of %2 bytes.").arg(received).arg(announced.toLongLong());
}

// The transport failure of a finished reply, if there was one. `reason` is set when the client itself
// stopped the transfer; `received` counts the body bytes when a cut-off body matters.
std::optional<QString> failureOf(const QNetworkReply* reply, const QString& reason, std::optional<qint64> received)
{
    if (!reason.isEmpty())
        return reason;
    const QNetworkReply::NetworkError error = reply->error();
    // Qt ends a transfer that stalled past its timeout as cancelled.
    if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError)
        return QStringLiteral("The request timed out.");
    if (received)
        if (std::optional<QString> cut = truncation(reply, *received))
            return cut;
    if (error == QNetworkReply::NoError)
        return std::nullopt;
    if (httpStatus(reply) && isHttpStatusError(error))
        return std::nullopt;
    return reply->errorString();
}

}  // namespace

QtHttpClient::QtHttpClient(QObject* parent) : QObject(parent)
{
    m_network.setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
}

QtHttpClient::~QtHttpClient()
{
    // Replies still running end with the manager; their completions must not run.
    const auto replies = m_network.findChildren<QNetworkReply*>();
    for (QNetworkReply* reply : replies) {
        reply->disconnect(this);
        reply->abort();
    }
}

QNetworkRequest QtHttpClient::request(const QUrl& url, std::chrono::milliseconds timeout) const
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // A cookie one answer sets would tie every later request to it: the anonymous update checks to each other
    // and to the launch report's install_id.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setRawHeader("Accept-Encoding", "identity");
    request.setTransferTimeout(static_cast<int>(timeout.count()));
    return request;
}

void QtHttpClient::guardRedirects(QNetworkReply* reply, const AddressCheck& accepts,
                                  const std::function<void()>& refused)
{
    connect(reply, &QNetworkReply::redirected, this, [reply, accepts, refused](const QUrl& next) {
        const bool leavesHttps =
            reply->url().scheme() == QLatin1String("https") && next.scheme() != QLatin1String("https");
        if (leavesHttps || (accepts && !accepts(next))) {
            refused();
            reply->abort();
            return;
        }
        Q_EMIT reply->redirectAllowed();
    });
}

template <typename T>
void QtHttpClient::failLater(std::function<void(Result<T>)> done, QString description)
{
    QTimer::singleShot(0, this,
                       [done = std::move(done), description = std::move(description)] { done(Error{description}); });
}

void QtHttpClient::get(const QUrl& url, std::chrono::milliseconds timeout, const AddressCheck& accepts,
                       std::function<void(Result<QByteArray>)> done)
{
    if (accepts && !accepts(url)) {
        failLater(std::move(done), QStringLiteral("Refused to request %1.").arg(url.toDisplayString()));
        return;
    }
    QNetworkReply* reply = m_network.get(request(url, timeout));
    auto reason = std::make_shared<QString>();
    guardRedirects(reply, accepts, [reason, reply] {
        *reason = QStringLiteral("Refused the redirect from %1.").arg(reply->url().toDisplayString());
    });
    connect(reply, &QNetworkReply::finished, this, [reply, reason, done = std::move(done)] {
        reply->deleteLater();
        const QByteArray body = reply->isOpen() ? reply->readAll() : QByteArray();
        if (const std::optional<QString> failure = failureOf(reply, *reason, body.size()))
            done(Error{*failure});
        else
            done(body);
    });
}

void QtHttpClient::download(const QUrl& url, std::chrono::milliseconds timeout, qint64 maxBytes,
                            const AddressCheck& accepts, std::function<void(Result<QString>)> done)
{
    if (accepts && !accepts(url)) {
        failLater(std::move(done), QStringLiteral("Refused to request %1.").arg(url.toDisplayString()));
        return;
    }
    auto file = std::make_shared<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/nimbrel-download-XXXXXX"));
    if (!file->open()) {
        failLater(std::move(done),
                  QStringLiteral("Cannot create a file for the download: %1").arg(file->errorString()));
        return;
    }

    struct Transfer {
        qint64 received = 0;
        QString reason;
    };
    auto transfer = std::make_shared<Transfer>();
    QNetworkReply* reply = m_network.get(request(url, timeout));
    const auto stop = [reply, transfer](QString reason) {
        if (transfer->reason.isEmpty())
            transfer->reason = std::move(reason);
        reply->abort();
    };
    const QString tooLarge = QStringLiteral("The download is larger than %1 bytes.").arg(maxBytes);

    guardRedirects(reply, accepts, [transfer, reply] {
        transfer->reason = QStringLiteral("Refused the redirect from %1.").arg(reply->url().toDisplayString());
    });
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, maxBytes, stop, tooLarge] {
        const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
        if (announced.isValid() && announced.toLongLong() > maxBytes)
            stop(tooLarge);
    });
    connect(reply, &QNetworkReply::readyRead, this, [reply, file, transfer, maxBytes, stop, tooLarge] {
        const QByteArray chunk = reply->readAll();
        transfer->received += chunk.size();
        if (transfer->received > maxBytes) {
            stop(tooLarge);
            return;
        }
        if (file->write(chunk) != chunk.size())
            stop(QStringLiteral("Cannot write the download: %1").arg(file->errorString()));
    });
    connect(reply, &QNetworkReply::finished, this, [reply, file, transfer, done = std::move(done)] {
        reply->deleteLater();
        std::optional<QString> failure = failureOf(reply, transfer->reason, transfer->received);
        if (!failure && !file->flush())
            failure = QStringLiteral("Cannot write the download: %1").arg(file->errorString());
        if (failure) {
            file->remove();
            done(Error{*failure});
            return;
        }
        file->setAutoRemove(false);
        file->close();
        done(file->fileName());
    });
}

void QtHttpClient::postJson(const QUrl& url, const QByteArray& body, std::chrono::milliseconds timeout,
                            std::function<void(Result<HttpResponse>)> done)
{
    QNetworkRequest post = request(url, timeout);
    post.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    post.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* reply = m_network.post(post, body);
    connect(reply, &QNetworkReply::finished, this, [reply, done = std::move(done)] {
        reply->deleteLater();
        const QByteArray answer = reply->isOpen() ? reply->readAll() : QByteArray();
        if (const std::optional<QString> failure = failureOf(reply, {}, std::nullopt))
            done(Error{*failure});
        else
            done(HttpResponse{httpStatus(reply).value_or(-1), answer});
    });
}

}  // namespace nimbrel::native
