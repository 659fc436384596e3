#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

namespace nimbrel {

// The clipboard as Nimbrel writes it (paste-back). Reading is the clipboard monitor's, off the UI thread.
class ClipboardWriter {
public:
    ClipboardWriter() = default;
    virtual ~ClipboardWriter() = default;
    ClipboardWriter(const ClipboardWriter&) = delete;
    ClipboardWriter& operator=(const ClipboardWriter&) = delete;

    // Where a write goes: the clipboard, or the primary selection as well (which X applications in the
    // xterm tradition paste with Shift+Insert).
    enum class Selections { clipboard, clipboardAndPrimary };

    // Replaces the contents with these representations (MIME type, bytes), in order.
    virtual void write(const QList<std::pair<QString, QByteArray>>& representations,
                       Selections selections = Selections::clipboard) = 0;
    // Whether any application (Nimbrel included) holds the clipboard now.
    virtual bool hasOwner() const = 0;
};

}  // namespace nimbrel
