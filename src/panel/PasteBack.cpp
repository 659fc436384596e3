#include "panel/PasteBack.h"

#include "history/ClipboardCapture.h"
#include "history/ImageDecoding.h"
#include "platform/Console.h"
#include "platform/Workspace.h"
#include "settings/SettingsStore.h"

#include <QPointer>
#include <QTimer>

namespace nimbrel {

namespace {
const QString plainText = QStringLiteral("text/plain");
const QString pngType = QStringLiteral("image/png");

const KeyChord controlV{KeyChord::control, keysym::v};
const KeyChord controlShiftV{KeyChord::control | KeyChord::shift, keysym::v};
const KeyChord shiftInsert{KeyChord::shift, keysym::insert};

// xterm pastes the primary selection, with Shift+Insert.
const QSet<QString> xtermClasses{QStringLiteral("xterm"), QStringLiteral("uxterm")};
// Well-known terminal emulators by window class (lower-cased), for those no desktop entry describes.
const QSet<QString> terminalClasses{
    QStringLiteral("urxvt"),          QStringLiteral("kitty"),
    QStringLiteral("alacritty"),      QStringLiteral("st"),
    QStringLiteral("st-256color"),    QStringLiteral("foot"),
    QStringLiteral("wezterm"),        QStringLiteral("org.wezfurlong.wezterm"),
    QStringLiteral("gnome-terminal"), QStringLiteral("konsole"),
    QStringLiteral("qterminal"),      QStringLiteral("xfce4-terminal"),
    QStringLiteral("lxterminal"),     QStringLiteral("terminator"),
    QStringLiteral("tilix"),          QStringLiteral("mate-terminal"),
    QStringLiteral("sakura"),         QStringLiteral("terminology"),
};

bool names(const RunningApplication& application, const QString& identifier)
{
    for (const auto& own : {application.applicationId, application.windowClass})
        if (own && own->compare(identifier, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}
}  // namespace

PasteBack::PasteBack(ClipboardWriter& clipboardWriter, KeyboardSynthesizer& keyboard, const Workspace& workspace,
                     Console& console, std::function<QVariant()> pasteKeys, QObject* parent)
    : QObject(parent),
      m_clipboardWriter(clipboardWriter),
      m_keyboard(keyboard),
      m_workspace(workspace),
      m_console(console),
      m_pasteKeys(std::move(pasteKeys))
{
}

bool PasteBack::isPasteAllowed() const
{
    return m_keyboard.isAvailable();
}

void PasteBack::writeToClipboard(const ClipItem& item, ClipboardWriter::Selections selections)
{
    QList<std::pair<QString, QByteArray>> representations;
    if (item.kind() == ClipKind::image) {
        // The stored PNG as it is: decoding it here would hold up the UI thread for a large photo, and
        // the header check keeps damaged bytes off the clipboard.
        if (item.contentImage && checkImageHeader(*item.contentImage, "png"))
            representations.append({pngType, *item.contentImage});
    } else if (item.contentText) {
        // A link is written as text only: an address list makes text fields insert a file or a section
        // instead of the address. Formatted forms follow the text they belong to.
        representations.append({plainText, item.contentText->toUtf8()});
        representations.append(item.formats);
    }
    // Always, also when nothing else could be written: the watcher must not record this change.
    representations.append({ownMarkerType, QByteArray(1, '\x01')});
    m_clipboardWriter.write(representations, selections);
}

void PasteBack::keepAlive(const ClipItem& item)
{
    if (!m_clipboardWriter.hasOwner())
        writeToClipboard(item);
}

void PasteBack::paste(const ClipItem& item)
{
    // On X11 the panel never takes the focus, so the application in front now is the one the paste goes to.
    // Where the panel had the keyboard (Wayland), that application is known only once the panel has gone.
    const std::optional<KeyChord> chord = pasteChordNow();
    writeToClipboard(
        item, chord == shiftInsert ? ClipboardWriter::Selections::clipboardAndPrimary : ClipboardWriter::Selections::clipboard);
    if (!isPasteAllowed()) {
        Q_EMIT leftForManualPaste();
        return;
    }
    QTimer::singleShot(keystrokeDelayMs + m_keyboard.settleMs(), this, [this, chord, item] {
        if (chord) {
            postWhenModifiersReleased(*chord, 0);
            return;
        }
        const KeyChord later = pasteChordNow().value_or(controlV);
        if (later == shiftInsert)
            writeToClipboard(item, ClipboardWriter::Selections::clipboardAndPrimary);
        postWhenModifiersReleased(later, 0);
    });
}

std::optional<KeyChord> PasteBack::pasteChordNow()
{
    const std::optional<RunningApplication> front = m_workspace.frontmostApplication();
    if (front && front->applicationId == m_workspace.ownApplicationId())
        return std::nullopt;
    return pasteChord(front);
}

KeyChord PasteBack::pasteChord(const std::optional<RunningApplication>& front)
{
    if (!front)
        return controlV;
    if (const auto chosen = chosenPasteKey(*front))
        return *chosen;
    const QString windowClass = front->windowClass.value_or(QString()).toLower();
    if (xtermClasses.contains(windowClass))
        return shiftInsert;
    if (front->isTerminalEmulator || terminalClasses.contains(windowClass))
        return controlShiftV;
    return controlV;
}

std::optional<KeyChord> PasteBack::chosenPasteKey(const RunningApplication& front)
{
    const QVariant stored = m_pasteKeys();
    if (!stored.isValid())
        return std::nullopt;
    const QString& key = SettingsStore::pasteKeysKey;
    if (stored.typeId() != QMetaType::QVariantMap) {
        reportOnce(QStringLiteral("[Nimbrel] The setting %1 is not an object of applications and their paste "
                                  "keys, such as {\"kitty\": \"Ctrl+Shift+V\"}; it is ignored.")
                       .arg(key));
        return std::nullopt;
    }
    std::optional<KeyChord> chosen;
    const QVariantMap keys = stored.toMap();
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        const bool isText = it->typeId() == QMetaType::QString;
        const auto chord = isText ? KeyChord::fromText(it->toString()) : std::nullopt;
        if (!chord) {
            reportOnce(QStringLiteral("[Nimbrel] The paste key %1 for \"%2\" in the setting %3 is not a key Nimbrel "
                                      "can type, such as \"Ctrl+Shift+V\" or \"Shift+Insert\"; it is ignored.")
                           .arg(isText ? QStringLiteral("\"%1\"").arg(it->toString()) : QStringLiteral("(not a text)"),
                                it.key(), key));
            continue;
        }
        if (!chosen && names(front, it.key()))
            chosen = chord;
    }
    return chosen;
}

void PasteBack::reportOnce(const QString& line)
{
    if (m_reported.contains(line))
        return;
    m_reported.insert(line);
    m_console.line(line);
}

void PasteBack::postWhenModifiersReleased(const KeyChord& chord, int waitedMs)
{
    if (waitedMs < modifierWaitLimitMs && m_keyboard.modifiersHeld()) {
        QTimer::singleShot(modifierPollMs, this,
                           [this, chord, waitedMs] { postWhenModifiersReleased(chord, waitedMs + modifierPollMs); });
        return;
    }
    postPasteKeystroke(chord);
}

void PasteBack::postPasteKeystroke(const KeyChord& chord)
{
    m_keyboard.post(chord.transitions());
    Q_EMIT keystrokePosted();
}

}  // namespace nimbrel
