#pragma once

#include "history/ClipItem.h"
#include "platform/KeyboardSynthesizer.h"
#include "platform/ClipboardWriter.h"

#include <QObject>
#include <QSet>
#include <QVariant>

#include <functional>
#include <optional>

namespace nimbrel {

class Console;
class Workspace;
struct RunningApplication;

// Puts a chosen record back on the clipboard, marked as Nimbrel's own so the watcher ignores it, and
// types the paste key of the application in front when keys can be synthesized: Ctrl+V; Ctrl+Shift+V in
// a terminal, where Ctrl+V quotes the next key; Shift+Insert in xterm, which pastes the primary
// selection, so the record goes there too; or the key the settings name for that application.
class PasteBack final : public QObject {
    Q_OBJECT
public:
    static constexpr int keystrokeDelayMs = 80;
    static constexpr int modifierPollMs = 20;
    static constexpr int modifierWaitLimitMs = 1000;

    // `pasteKeys` gives the settings' paste key per application (SettingsStore::pasteKeys), asked at
    // every paste.
    PasteBack(ClipboardWriter& clipboardWriter, KeyboardSynthesizer& keyboard, const Workspace& workspace, Console& console,
              std::function<QVariant()> pasteKeys, QObject* parent = nullptr);

    void paste(const ClipItem& item);
    // Text records: the text, then their formatted forms; images: the PNG; always the marker.
    void writeToClipboard(const ClipItem& item, ClipboardWriter::Selections selections = ClipboardWriter::Selections::clipboard);
    // Offers a record again after the application that held it on the clipboard went away, unless another
    // application has taken the clipboard meanwhile. Nothing is typed.
    void keepAlive(const ClipItem& item);
    bool isPasteAllowed() const;
    // Types the paste chord now: its modifiers down, its key down and up, the modifiers up.
    void postPasteKeystroke(const KeyChord& chord);

Q_SIGNALS:
    // The chord was typed (or, without synthesis, would have been); for tests and diagnostics.
    void keystrokePosted();
    // A chosen record was put on the clipboard but nothing could type the paste key: the user pastes it.
    void leftForManualPaste();

private:
    // The chord that pastes into the application in front; absent while that is Nimbrel itself.
    std::optional<KeyChord> pasteChordNow();
    KeyChord pasteChord(const std::optional<RunningApplication>& front);
    // The settings' paste key for that application, when they name one Nimbrel can type; each unusable
    // entry is reported once.
    std::optional<KeyChord> chosenPasteKey(const RunningApplication& front);
    void reportOnce(const QString& line);
    // Waits (at most a second) for the user to let go of the modifiers of the shortcut that opened the
    // panel, so the application receives exactly the chord rather than, say, Shift+Super+Ctrl+V.
    void postWhenModifiersReleased(const KeyChord& chord, int waitedMs);

    ClipboardWriter& m_clipboardWriter;
    KeyboardSynthesizer& m_keyboard;
    const Workspace& m_workspace;
    Console& m_console;
    std::function<QVariant()> m_pasteKeys;
    QSet<QString> m_reported;
};

}  // namespace nimbrel
