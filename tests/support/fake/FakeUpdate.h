#pragma once

#include "platform/HttpClient.h"

// A stand-in for the update and report hosts: a small HTTP/1.1 server on 127.0.0.1 that answers every
// path with a response the test set and records what it was asked. It closes itself after a minute at
// the latest, so a test that forgets it cannot hang.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <optional>
#include <utility>

namespace nimbrel::fake {

class LocalHttpServer final {
public:
    struct Response {
        Response(int status = 200, QByteArray body = {}) : status(status), body(std::move(body)) {}
        Response& header(const QByteArray& name, const QByteArray& value)
        {
            headers.append({name, value});
            return *this;
        }
        // Announces this length instead of the body's; a shorter body is followed by the connection closing.
        Response& announcing(qint64 length)
        {
            announcedLength = length;
            return *this;
        }

        int status = 200;
        QByteArray body;
        QList<std::pair<QByteArray, QByteArray>> headers;
        std::optional<qint64> announcedLength;
    };

    struct Request {
        QByteArray method;
        QByteArray path;
        QMap<QByteArray, QByteArray> headers;  // names in lower case
        QByteArray body;
    };

    LocalHttpServer()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] { accept(); });
        m_server.listen(QHostAddress::LocalHost);
        m_deadline.setSingleShot(true);
        QObject::connect(&m_deadline, &QTimer::timeout, &m_server, [this] { close(); });
        m_deadline.start(60'000);
    }
    ~LocalHttpServer() { close(); }
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    void answer(const QByteArray& path, Response response) { m_responses.insert(path, std::move(response)); }

    QUrl url(const QString& path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }
    quint16 port() const { return m_server.serverPort(); }

    int hits(const QByteArray& path) const
    {
        int count = 0;
        for (const Request& request : requests)
            count += request.path == path ? 1 : 0;
        return count;
    }

    // Stops listening and drops every connection.
    void close()
    {
        m_server.close();
        const auto sockets = m_server.findChildren<QTcpSocket*>();
        for (QTcpSocket* socket : sockets)
            socket->abort();
    }

    QList<Request> requests;

private:
    void accept()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                buffer->append(socket->readAll());
                if (std::optional<Request> request = parse(*buffer)) {
                    buffer->clear();
                    requests.append(*request);
                    respond(socket, m_responses.value(request->path, Response(404, "not found")));
                }
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    static std::optional<Request> parse(const QByteArray& bytes)
    {
        const qsizetype headerEnd = bytes.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return std::nullopt;
        const QList<QByteArray> lines = bytes.left(headerEnd).split('\n');
        const QList<QByteArray> start = lines.first().trimmed().split(' ');
        if (start.size() < 2)
            return std::nullopt;
        Request request{start[0], start[1], {}, {}};
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        const qsizetype length = request.headers.value("content-length", "0").toLongLong();
        if (bytes.size() < headerEnd + 4 + length)
            return std::nullopt;
        request.body = bytes.mid(headerEnd + 4, length);
        return request;
    }

    static QByteArray reason(int status)
    {
        switch (status) {
            case 200:
                return "OK";
            case 204:
                return "No Content";
            case 301:
                return "Moved Permanently";
            case 302:
                return "Found";
            case 404:
                return "Not Found";
            case 500:
                return "Internal Server Error";
            default:
                return "Status";
        }
    }

    static void respond(QTcpSocket* socket, const Response& response)
    {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reason(response.status) + "\r\n";
        if (response.status != 204)
            head += "Content-Length: " + QByteArray::number(response.announcedLength.value_or(response.body.size())) +
                    "\r\n";
        for (const auto& [name, value] : response.headers)
            head += name + ": " + value + "\r\n";
        head += "Connection: close\r\n\r\n";
        socket->write(head + response.body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QTimer m_deadline;
    QMap<QByteArray, Response> m_responses;
};

// Records the requests it is given and answers each with a transport failure on the next turn of the
// event loop, as an unreachable server would.
class UnreachableHttpClient final : public HttpClient {
public:
    void get(const QUrl& url, std::chrono::milliseconds, const AddressCheck&,
             std::function<void(Result<QByteArray>)> done) override
    {
        requests.append(QStringLiteral("GET ") + url.toString());
        QTimer::singleShot(0, [done] { done(Error{QStringLiteral("unreachable")}); });
    }
    void download(const QUrl& url, std::chrono::milliseconds, qint64, const AddressCheck&,
                  std::function<void(Result<QString>)> done) override
    {
        requests.append(QStringLiteral("DOWNLOAD ") + url.toString());
        QTimer::singleShot(0, [done] { done(Error{QStringLiteral("unreachable")}); });
    }
    void postJson(const QUrl& url, const QByteArray&, std::chrono::milliseconds,
                  std::function<void(Result<HttpResponse>)> done) override
    {
        requests.append(QStringLiteral("POST ") + url.toString());
        QTimer::singleShot(0, [done] { done(Error{QStringLiteral("unreachable")}); });
    }
    QStringList requests;
};

// Records the requests it is given and keeps their completions until the test runs them, so that a test
// decides what happens while a request is out. A completion run by the test runs after the call that made
// the request, as the interface promises.
class HeldHttpClient final : public HttpClient {
public:
    void get(const QUrl& url, std::chrono::milliseconds, const AddressCheck&,
             std::function<void(Result<QByteArray>)> done) override
    {
        requests.append(QStringLiteral("GET ") + url.toString());
        gets.append(std::move(done));
    }
    void download(const QUrl& url, std::chrono::milliseconds, qint64, const AddressCheck&,
                  std::function<void(Result<QString>)> done) override
    {
        requests.append(QStringLiteral("DOWNLOAD ") + url.toString());
        downloads.append(std::move(done));
    }
    void postJson(const QUrl& url, const QByteArray&, std::chrono::milliseconds,
                  std::function<void(Result<HttpResponse>)> done) override
    {
        requests.append(QStringLiteral("POST ") + url.toString());
        posts.append(std::move(done));
    }
    QStringList requests;
    QList<std::function<void(Result<QByteArray>)>> gets;
    QList<std::function<void(Result<QString>)>> downloads;
    QList<std::function<void(Result<HttpResponse>)>> posts;
};

}  // namespace nimbrel::fake
