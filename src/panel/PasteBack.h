#pragma once

#include "history/ClipItem.h"

#include <QObject>

namespace nimbrel {

class KeyboardSynthesizer;
class Pasteboard;

// Puts a chosen record back on the clipboard, marked as Nimbrel's own so the watcher ignores it, and
// types Ctrl+V into the application in front when keys can be synthesized.
class PasteBack final : public QObject {
    Q_OBJECT
public:
    static constexpr int keystrokeDelayMs = 80;
    static constexpr int modifierPollMs = 20;
    static constexpr int modifierWaitLimitMs = 1000;

    PasteBack(Pasteboard& pasteboard, KeyboardSynthesizer& keyboard, QObject* parent = nullptr);

    void paste(const ClipItem& item);
    // Text records: the text, then their formatted forms; images: the PNG; always the marker.
    void writeToPasteboard(const ClipItem& item);
    // Offers a record again after the application that held it on the clipboard went away, unless another
    // application has taken the clipboard meanwhile. Nothing is typed.
    void keepAlive(const ClipItem& item);
    bool isPasteAllowed() const;
    // Types the paste chord now: Control down, V down, V up, Control up.
    void postPasteKeystroke();

Q_SIGNALS:
    // The chord was typed (or, without synthesis, would have been); for tests and diagnostics.
    void keystrokePosted();

private:
    // Waits (at most a second) for the user to let go of the modifiers of the shortcut that opened the
    // panel, so the application receives exactly Ctrl+V rather than, say, Shift+Super+Ctrl+V.
    void postWhenModifiersReleased(int waitedMs);

    Pasteboard& m_pasteboard;
    KeyboardSynthesizer& m_keyboard;
};

}  // namespace nimbrel
