#pragma once

#include "platform/HttpClient.h"

#include <QNetworkAccessManager>
#include <QObject>

class QNetworkReply;
class QNetworkRequest;

namespace nimbrel::native {

// HttpClient over QNetworkAccessManager (HTTPS through Qt's TLS backend). Requests ask for the
// identity encoding so that an announced length can be checked against the bytes that arrived.
class QtHttpClient final : public QObject, public HttpClient {
    Q_OBJECT
public:
    explicit QtHttpClient(QObject* parent = nullptr);
    ~QtHttpClient() override;

    void get(const QUrl& url, std::chrono::milliseconds timeout, const AddressCheck& accepts,
             std::function<void(Result<QByteArray>)> done) override;
    void download(const QUrl& url, std::chrono::milliseconds timeout, qint64 maxBytes, const AddressCheck& accepts,
                  std::function<void(Result<QString>)> done) override;
    void postJson(const QUrl& url, const QByteArray& body, std::chrono::milliseconds timeout,
                  std::function<void(Result<HttpResponse>)> done) override;

private:
    QNetworkRequest request(const QUrl& url, std::chrono::milliseconds timeout) const;
    // Follows a redirect only when `accepts` allows the new address and it does not leave HTTPS.
    void guardRedirects(QNetworkReply* reply, const AddressCheck& accepts, const std::function<void()>& refused);
    template <typename T>
    void failLater(std::function<void(Result<T>)> done, QString description);

    QNetworkAccessManager m_network;
};

}  // namespace nimbrel::native
