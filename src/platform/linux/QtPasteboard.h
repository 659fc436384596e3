#pragma once

#include "platform/Pasteboard.h"

#include <QObject>

class QClipboard;
class QMimeData;

namespace nimbrel::native {

// The desktop clipboard (not the primary selection) through QClipboard. The change counter is our own:
// Qt hears of every new owner (XFixes) and reports it as dataChanged.
class QtPasteboard final : public QObject, public Pasteboard {
    Q_OBJECT
public:
    explicit QtPasteboard(QClipboard* clipboard);

    qint64 changeCount() const override { return m_changeCount; }
    bool isOwnContent() const override;
    QStringList types() const override;
    std::optional<QByteArray> data(const QString& mimeType) const override;
    std::optional<QString> string() const override;
    std::optional<QList<QUrl>> urls() const override;
    std::optional<QImage> image() const override;
    void write(const QList<std::pair<QString, QByteArray>>& representations,
               const std::optional<QImage>& image = std::nullopt) override;

private:
    const QMimeData* contents() const;

    QClipboard* m_clipboard;
    qint64 m_changeCount = 0;
};

}  // namespace nimbrel::native
