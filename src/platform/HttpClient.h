#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>

namespace nimbrel {

// An answer from an HTTP server: any status, with its body. A response is not a transport failure even
// when its status is an error; the caller decides what a status means.
struct HttpResponse {
    int statusCode = -1;  // -1 when the answer carries no HTTP status
    QByteArray body;
};

// Decides whether a request may go to an address; asked for the first address and for every redirect.
using AddressCheck = std::function<bool(const QUrl&)>;

// The network requests of the updater and the launch report. Every completion runs later on the thread
// that made the request (the main thread), never inside the call; it receives a transport failure (no
// connection, time-out, refused address, truncated transfer) as an error. No cookie is kept or sent, and
// nothing is read from or written to a local cache. Completions of requests still running when the client
// is destroyed never run.
class HttpClient {
public:
    HttpClient() = default;
    virtual ~HttpClient() = default;
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // GET; the body of whatever answer arrives. The timeout counts from the last byte received.
    virtual void get(const QUrl& url, std::chrono::milliseconds timeout, const AddressCheck& accepts,
                     std::function<void(Result<QByteArray>)> done) = 0;

    // GET into a new file in the temporary folder; the completion receives its path and the file then
    // belongs to the caller. An answer announcing or delivering more than maxBytes fails, and so does one
    // that ends before its announced length; no file is left behind after a failure.
    virtual void download(const QUrl& url, std::chrono::milliseconds timeout, qint64 maxBytes,
                          const AddressCheck& accepts, std::function<void(Result<QString>)> done) = 0;

    // POST with "Content-Type: application/json"; redirects are not followed, so a 3xx is an answer too.
    virtual void postJson(const QUrl& url, const QByteArray& body, std::chrono::milliseconds timeout,
                          std::function<void(Result<HttpResponse>)> done) = 0;
};

}  // namespace nimbrel
