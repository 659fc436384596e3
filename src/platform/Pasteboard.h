#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace nimbrel {

// The clipboard as Nimbrel writes it (paste-back). Reading is the clipboard monitor's, off the UI thread.
class Pasteboard {
public:
    Pasteboard() = default;
    virtual ~Pasteboard() = default;
    Pasteboard(const Pasteboard&) = delete;
    Pasteboard& operator=(const Pasteboard&) = delete;

    // Where a write goes: the clipboard, or the primary selection as well (which X applications in the
    // xterm tradition paste with Shift+Insert).
    enum class Selections { clipboard, clipboardAndPrimary };

    // Replaces the contents with an image (offered in every format the platform can make of it), if
    // given, and these representations (MIME type, bytes), in order.
    virtual void write(const QList<std::pair<QString, QByteArray>>& representations,
                       const std::optional<QImage>& image = std::nullopt,
                       Selections selections = Selections::clipboard) = 0;
};

}  // namespace nimbrel
