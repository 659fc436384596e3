#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <utility>

namespace nimbrel {

// The clipboard as Nimbrel reads and writes it: a change counter and representations by MIME type.
class Pasteboard {
public:
    Pasteboard() = default;
    virtual ~Pasteboard() = default;
    Pasteboard(const Pasteboard&) = delete;
    Pasteboard& operator=(const Pasteboard&) = delete;

    // Grows whenever any process changes the clipboard's contents. Reading it costs nothing.
    virtual qint64 changeCount() const = 0;
    // Whether the current contents were put there by this process (a copy inside Nimbrel's own windows).
    virtual bool isOwnContent() const = 0;
    // The MIME types the current contents are offered in.
    virtual QStringList types() const = 0;
    // The bytes of one representation, or none.
    virtual std::optional<QByteArray> data(const QString& mimeType) const = 0;
    // The plain text, or none.
    virtual std::optional<QString> string() const = 0;
    // The addresses offered as a URI list, in order; none when there is no list.
    virtual std::optional<QList<QUrl>> urls() const = 0;
    // The first image the contents are offered as that decodeImage reads (PNG preferred), or none.
    virtual std::optional<QImage> image() const = 0;
    // Replaces the contents with an image (offered in every format the platform can make of it), if
    // given, and these representations (MIME type, bytes), in order.
    virtual void write(const QList<std::pair<QString, QByteArray>>& representations,
                       const std::optional<QImage>& image = std::nullopt) = 0;
};

}  // namespace nimbrel
