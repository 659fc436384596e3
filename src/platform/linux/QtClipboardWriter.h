#pragma once

#include "platform/ClipboardWriter.h"

class QClipboard;

namespace nimbrel::native {

// Writes the desktop clipboard, and the primary selection when asked, through QClipboard; Qt then serves
// the contents to other applications from the UI thread's event loop, without blocking it.
class QtClipboardWriter final : public ClipboardWriter {
public:
    explicit QtClipboardWriter(QClipboard* clipboard) : m_clipboard(clipboard) {}

    void write(const QList<std::pair<QString, QByteArray>>& representations,
               Selections selections = Selections::clipboard) override;
    bool hasOwner() const override;

private:
    QClipboard* m_clipboard;
};

}  // namespace nimbrel::native
