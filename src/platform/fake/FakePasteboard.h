#pragma once

#include "platform/Pasteboard.h"

#include <QMap>

namespace nimbrel::fake {

// A clipboard the test fills. `set` replaces the contents as another application's copy would,
// moving the counter; reads are counted so a test can prove an idle tick reads nothing.
class FakePasteboard final : public Pasteboard {
public:
    struct Contents {
        QList<std::pair<QString, QByteArray>> representations;
        std::optional<QImage> image;  // what the platform could make of the contents
    };

    void set(Contents contents)
    {
        m_contents = std::move(contents);
        ++m_count;
    }
    void setText(const QString& text) { set({{{QStringLiteral("text/plain"), text.toUtf8()}}, std::nullopt}); }

    qint64 changeCount() const override { return m_count; }
    bool isOwnContent() const override { return ownContent; }
    QStringList types() const override
    {
        ++reads;
        QStringList list;
        for (const auto& [type, bytes] : m_contents.representations)
            list.append(type);
        return list;
    }
    std::optional<QByteArray> data(const QString& mimeType) const override
    {
        ++reads;
        for (const auto& [type, bytes] : m_contents.representations)
            if (type == mimeType)
                return bytes;
        return std::nullopt;
    }
    std::optional<QString> string() const override
    {
        const auto bytes = data(QStringLiteral("text/plain"));
        return bytes ? std::optional<QString>(QString::fromUtf8(*bytes)) : std::nullopt;
    }
    std::optional<QList<QUrl>> urls() const override
    {
        const auto bytes = data(QStringLiteral("text/uri-list"));
        if (!bytes)
            return std::nullopt;
        QList<QUrl> list;
        for (const QByteArray& line : bytes->split('\n'))
            if (!line.trimmed().isEmpty() && !line.startsWith('#'))
                list.append(QUrl::fromEncoded(line.trimmed()));
        return list;
    }
    std::optional<QImage> image() const override
    {
        ++reads;
        return m_contents.image;
    }
    void write(const QList<std::pair<QString, QByteArray>>& representations,
               const std::optional<QImage>& image = std::nullopt) override
    {
        writes.append(representations);
        writtenImages.append(image);
        set({representations, image});
    }

    bool ownContent = false;
    mutable int reads = 0;
    QList<QList<std::pair<QString, QByteArray>>> writes;
    QList<std::optional<QImage>> writtenImages;

private:
    Contents m_contents;
    qint64 m_count = 0;
};

}  // namespace nimbrel::fake
