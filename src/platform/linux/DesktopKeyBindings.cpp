#include "platform/linux/DesktopKeyBindings.h"
#include "platform/linux/X11Connection.h"

#include "KeyboardShortcuts/KeyCodes.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QKeySequence>
#include <QProcess>
#include <QStandardPaths>

#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <memory>

namespace nimbrel::native {

namespace {

using namespace KeyboardShortcuts;

const QString mediaKeysSchema = QStringLiteral("org.gnome.settings-daemon.plugins.media-keys");
const QString customKeybindingSchema = QStringLiteral("org.gnome.settings-daemon.plugins.media-keys.custom-keybinding");
// gsettings answers in milliseconds; a hung one (a stuck D-Bus or dconf) must not freeze the recorder.
constexpr int gsettingsCallTimeoutMs = 1000;
constexpr int gsettingsBudgetMs = 3000;
constexpr qint64 maxShortcutFileSize = 4 * 1024 * 1024;
// mutter's name for the key above Tab, whatever it types: evdev KEY_GRAVE.
constexpr int aboveTabEvdev = 41;

void appendUnique(QList<SystemHotKey>& list, const SystemHotKey& hotKey)
{
    if (!list.contains(hotKey))
        list.append(hotKey);
}

// An accelerator names the character; the binding fires on the key that types it in either case.
std::optional<int> keyCodeForKeysym(xkb_keysym_t keysym, const KeysymToKeyCode& keyCodeFromKeysym)
{
    for (const xkb_keysym_t candidate : {keysym, xkb_keysym_to_lower(keysym), xkb_keysym_to_upper(keysym)})
        if (const auto code = keyCodeFromKeysym(candidate))
            return code;
    return std::nullopt;
}

std::optional<int> gnomeModifier(QStringView name)
{
    const auto is = [name](const char* candidate) {
        return name.compare(QLatin1String(candidate), Qt::CaseInsensitive) == 0;
    };
    if (is("Shift") || is("Shft"))
        return modShift;
    if (is("Control") || is("Ctrl") || is("Ctl") || is("Primary"))
        return modControl;
    if (is("Alt") || is("Mod1"))
        return modAlt;
    if (is("Super") || is("Mod4") || is("Meta"))
        return modSuper;
    return std::nullopt;
}

// The first element of a KConfig list value; a backslash keeps the next character (an escaped comma).
QString firstListElement(const QString& value)
{
    QString element;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == u'\\' && i + 1 < value.size())
            element += value[++i];
        else if (value[i] == u',')
            break;
        else
            element += value[i];
    }
    return element;
}

// KConfig's file escapes: \s \t \n \r \\ and \xHH; \, and \; stay for the list split.
QString unescapeKConfigValue(const QByteArray& raw)
{
    QByteArray value;
    value.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 >= raw.size()) {
            value += raw[i];
            continue;
        }
        const char next = raw[++i];
        bool hex = false;
        const int byte = next == 'x' && i + 2 < raw.size() ? raw.mid(i + 1, 2).toInt(&hex, 16) : 0;
        if (next == 's')
            value += ' ';
        else if (next == 't')
            value += '\t';
        else if (next == 'n')
            value += '\n';
        else if (next == 'r')
            value += '\r';
        else if (next == '\\')
            value += '\\';
        else if (hex) {
            value += char(byte);
            i += 2;
        } else {
            value += '\\';
            value += next;
        }
    }
    return QString::fromUtf8(value);
}

// "[kwin]", "[services][org.kde.konsole.desktop]", "[$Version]" → the group's path; a trailing [$i] only marks
// the group immutable.
QStringList groupPath(const QByteArray& line)
{
    QStringList path;
    qsizetype pos = 0;
    while (pos < line.size() && line[pos] == '[') {
        const qsizetype close = line.indexOf(']', pos);
        if (close < 0)
            return {};
        path.append(unescapeKConfigValue(line.mid(pos + 1, close - pos - 1)));
        pos = close + 1;
    }
    if (pos != line.size())
        return {};
    if (path.size() > 1 && path.last() == QLatin1String("$i"))
        path.removeLast();
    return path;
}

xkb_keysym_t keypadKeysym(int key)
{
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return XKB_KEY_KP_0 + xkb_keysym_t(key - Qt::Key_0);
    switch (key) {
        case Qt::Key_Asterisk:
            return XKB_KEY_KP_Multiply;
        case Qt::Key_Plus:
            return XKB_KEY_KP_Add;
        case Qt::Key_Minus:
            return XKB_KEY_KP_Subtract;
        case Qt::Key_Period:
            return XKB_KEY_KP_Decimal;
        case Qt::Key_Comma:
            return XKB_KEY_KP_Separator;
        case Qt::Key_Slash:
            return XKB_KEY_KP_Divide;
        case Qt::Key_Equal:
            return XKB_KEY_KP_Equal;
        case Qt::Key_Enter:
        case Qt::Key_Return:
            return XKB_KEY_KP_Enter;
        default:
            return XKB_KEY_NoSymbol;
    }
}

// Qt's key codes → X keysyms for the keys a desktop binds. Printable keys are their Unicode character.
xkb_keysym_t keysymForQtKey(int key)
{
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return XKB_KEY_F1 + xkb_keysym_t(key - Qt::Key_F1);
    static const QHash<int, xkb_keysym_t> specialKeys = {
        {Qt::Key_Escape, XKB_KEY_Escape},
        {Qt::Key_Tab, XKB_KEY_Tab},
        {Qt::Key_Backtab, XKB_KEY_Tab},
        {Qt::Key_Backspace, XKB_KEY_BackSpace},
        {Qt::Key_Return, XKB_KEY_Return},
        {Qt::Key_Enter, XKB_KEY_KP_Enter},
        {Qt::Key_Insert, XKB_KEY_Insert},
        {Qt::Key_Delete, XKB_KEY_Delete},
        {Qt::Key_Pause, XKB_KEY_Pause},
        {Qt::Key_Print, XKB_KEY_Print},
        {Qt::Key_SysReq, XKB_KEY_Sys_Req},
        {Qt::Key_Clear, XKB_KEY_Clear},
        {Qt::Key_Home, XKB_KEY_Home},
        {Qt::Key_End, XKB_KEY_End},
        {Qt::Key_Left, XKB_KEY_Left},
        {Qt::Key_Up, XKB_KEY_Up},
        {Qt::Key_Right, XKB_KEY_Right},
        {Qt::Key_Down, XKB_KEY_Down},
        {Qt::Key_PageUp, XKB_KEY_Prior},
        {Qt::Key_PageDown, XKB_KEY_Next},
        {Qt::Key_CapsLock, XKB_KEY_Caps_Lock},
        {Qt::Key_NumLock, XKB_KEY_Num_Lock},
        {Qt::Key_ScrollLock, XKB_KEY_Scroll_Lock},
        {Qt::Key_Menu, XKB_KEY_Menu},
        {Qt::Key_Help, XKB_KEY_Help},
        {Qt::Key_VolumeDown, XKB_KEY_XF86AudioLowerVolume},
        {Qt::Key_VolumeMute, XKB_KEY_XF86AudioMute},
        {Qt::Key_VolumeUp, XKB_KEY_XF86AudioRaiseVolume},
        {Qt::Key_MicMute, XKB_KEY_XF86AudioMicMute},
        {Qt::Key_MediaPlay, XKB_KEY_XF86AudioPlay},
        {Qt::Key_MediaTogglePlayPause, XKB_KEY_XF86AudioPlay},
        {Qt::Key_MediaPause, XKB_KEY_XF86AudioPause},
        {Qt::Key_MediaStop, XKB_KEY_XF86AudioStop},
        {Qt::Key_MediaPrevious, XKB_KEY_XF86AudioPrev},
        {Qt::Key_MediaNext, XKB_KEY_XF86AudioNext},
        {Qt::Key_MediaRecord, XKB_KEY_XF86AudioRecord},
        {Qt::Key_MonBrightnessUp, XKB_KEY_XF86MonBrightnessUp},
        {Qt::Key_MonBrightnessDown, XKB_KEY_XF86MonBrightnessDown},
        {Qt::Key_KeyboardBrightnessUp, XKB_KEY_XF86KbdBrightnessUp},
        {Qt::Key_KeyboardBrightnessDown, XKB_KEY_XF86KbdBrightnessDown},
        {Qt::Key_PowerOff, XKB_KEY_XF86PowerOff},
        {Qt::Key_Sleep, XKB_KEY_XF86Sleep},
        {Qt::Key_Suspend, XKB_KEY_XF86Suspend},
        {Qt::Key_Hibernate, XKB_KEY_XF86Hibernate},
        {Qt::Key_WakeUp, XKB_KEY_XF86WakeUp},
        {Qt::Key_Eject, XKB_KEY_XF86Eject},
        {Qt::Key_Calculator, XKB_KEY_XF86Calculator},
        {Qt::Key_LaunchMail, XKB_KEY_XF86Mail},
        {Qt::Key_HomePage, XKB_KEY_XF86HomePage},
        {Qt::Key_Search, XKB_KEY_XF86Search},
        {Qt::Key_Explorer, XKB_KEY_XF86Explorer},
        {Qt::Key_Tools, XKB_KEY_XF86Tools},
        {Qt::Key_TouchpadToggle, XKB_KEY_XF86TouchpadToggle},
        {Qt::Key_Display, XKB_KEY_XF86Display},
        {Qt::Key_Terminal, XKB_KEY_XF86Terminal},
    };
    if (const auto it = specialKeys.constFind(key); it != specialKeys.cend())
        return *it;
    // Qt's other special keys live at 0x01000000 and above; below it a key code is the character it types.
    if (key > 0 && key < 0x01000000 && key != Qt::Key_unknown)
        return xkb_utf32_to_keysym(quint32(key));
    return XKB_KEY_NoSymbol;
}

QString configHome()
{
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative XDG path is invalid and to be ignored.
    return QDir::isAbsolutePath(configured) ? configured : QDir::homePath() + QStringLiteral("/.config");
}

class Gsettings {
public:
    explicit Gsettings(QString program) : m_program(std::move(program)), m_budget(gsettingsBudgetMs) {}

    // The output of one gsettings call; nothing for a missing schema, and nothing for every later call once
    // one has failed to start or answer in time.
    std::optional<QString> run(const QStringList& arguments)
    {
        if (m_stalled || m_budget.hasExpired())
            return std::nullopt;
        QProcess process;
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(m_program, arguments, QIODevice::ReadOnly);
        const int wait = int(std::min<qint64>(gsettingsCallTimeoutMs, m_budget.remainingTime()));
        if (!process.waitForFinished(wait)) {
            m_stalled = true;
            process.kill();
            process.waitForFinished(100);
            return std::nullopt;
        }
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            return std::nullopt;
        return QString::fromUtf8(process.readAllStandardOutput());
    }

private:
    QString m_program;
    QDeadlineTimer m_budget;
    bool m_stalled = false;
};

void appendGnomeBindings(QList<SystemHotKey>& hotKeys, const KeysymToKeyCode& keyCodeFromKeysym)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (program.isEmpty())
        return;
    Gsettings gsettings(program);
    QStringList customPaths;
    for (const QString& schema : gnomeKeybindingSchemas()) {
        const auto listing = gsettings.run({QStringLiteral("list-recursively"), schema});
        if (!listing)
            continue;
        for (const SystemHotKey& hotKey : parseGsettingsListing(*listing, keyCodeFromKeysym))
            appendUnique(hotKeys, hotKey);
        if (schema == mediaKeysSchema)
            customPaths = customKeybindingPaths(*listing);
    }
    for (const QString& path : std::as_const(customPaths)) {
        const auto listing = gsettings.run({QStringLiteral("list-recursively"), customKeybindingSchema + u':' + path});
        if (!listing)
            continue;
        for (const SystemHotKey& hotKey : parseGsettingsListing(*listing, keyCodeFromKeysym))
            appendUnique(hotKeys, hotKey);
    }
}

void appendKdeBindings(QList<SystemHotKey>& hotKeys, const KeysymToKeyCode& keyCodeFromKeysym)
{
    QFile file(configHome() + QStringLiteral("/kglobalshortcutsrc"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    for (const SystemHotKey& hotKey : parseKdeShortcutFile(file.read(maxShortcutFileSize), keyCodeFromKeysym))
        appendUnique(hotKeys, hotKey);
}

using Context = std::unique_ptr<xkb_context, decltype(&xkb_context_unref)>;
using Keymap = std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)>;

Keymap x11Keymap(xkb_context* context)
{
    xcb_connection_t* c = QGuiApplication::platformName() == QLatin1String("xcb") ? x11Connection() : nullptr;
    const int32_t device = c ? xkb_x11_get_core_keyboard_device_id(c) : -1;
    if (device < 0)
        return Keymap(nullptr, &xkb_keymap_unref);
    return Keymap(xkb_x11_keymap_new_from_device(context, c, device, XKB_KEYMAP_COMPILE_NO_FLAGS), &xkb_keymap_unref);
}

}  // namespace

QStringList gnomeKeybindingSchemas()
{
    return {QStringLiteral("org.gnome.desktop.wm.keybindings"), QStringLiteral("org.gnome.shell.keybindings"),
            QStringLiteral("org.gnome.mutter.keybindings"), QStringLiteral("org.gnome.mutter.wayland.keybindings"),
            mediaKeysSchema};
}

QString gnomeMediaKeysSchema()
{
    return mediaKeysSchema;
}
QString gnomeCustomKeybindingSchema()
{
    return customKeybindingSchema;
}

std::optional<SystemHotKey> parseGnomeAccelerator(const QString& accelerator, const KeysymToKeyCode& keyCodeFromKeysym)
{
    QStringView rest = QStringView(accelerator).trimmed();
    int modifiers = 0;
    while (rest.startsWith(u'<')) {
        const qsizetype close = rest.indexOf(u'>');
        if (close < 0)
            return std::nullopt;
        const auto modifier = gnomeModifier(rest.sliced(1, close - 1));
        if (!modifier)
            return std::nullopt;
        modifiers |= *modifier;
        rest = rest.sliced(close + 1).trimmed();
    }
    if (rest.isEmpty())
        return std::nullopt;
    std::optional<int> key;
    if (rest.compare(QLatin1String("Above_Tab"), Qt::CaseInsensitive) == 0) {
        key = keyCodeFromEvdev(aboveTabEvdev);
    } else {
        const QByteArray name = rest.toUtf8();
        xkb_keysym_t keysym = xkb_keysym_from_name(name.constData(), XKB_KEYSYM_NO_FLAGS);
        if (keysym == XKB_KEY_NoSymbol)
            keysym = xkb_keysym_from_name(name.constData(), XKB_KEYSYM_CASE_INSENSITIVE);
        if (keysym == XKB_KEY_NoSymbol)
            return std::nullopt;
        key = keyCodeForKeysym(keysym, keyCodeFromKeysym);
    }
    if (!key)
        return std::nullopt;
    return SystemHotKey{*key, modifiers};
}

QStringList parseGvariantStrings(const QString& value)
{
    QStringView text = QStringView(value).trimmed();
    if (text.startsWith(u'@')) {  // a type annotation, "@as []"
        const qsizetype space = text.indexOf(u' ');
        if (space < 0)
            return {};
        text = text.sliced(space + 1).trimmed();
    }
    const bool array = text.startsWith(u'[');
    if (array) {
        if (!text.endsWith(u']'))
            return {};
        text = text.sliced(1, text.size() - 2);
    }
    QStringList strings;
    qsizetype i = 0;
    const auto skipSpaces = [&] {
        while (i < text.size() && text[i].isSpace())
            ++i;
    };
    skipSpaces();
    while (i < text.size()) {
        const QChar quote = text[i];
        if (quote != u'\'' && quote != u'"')
            return {};
        QString string;
        bool closed = false;
        for (++i; i < text.size(); ++i) {
            if (text[i] == u'\\' && i + 1 < text.size()) {
                string += text[++i];
            } else if (text[i] == quote) {
                closed = true;
                ++i;
                break;
            } else {
                string += text[i];
            }
        }
        if (!closed)
            return {};
        strings.append(string);
        skipSpaces();
        if (i == text.size())
            break;
        if (!array || text[i] != u',')
            return {};
        ++i;
        skipSpaces();
    }
    return strings;
}

QList<SystemHotKey> parseGsettingsListing(const QString& listing, const KeysymToKeyCode& keyCodeFromKeysym)
{
    QList<SystemHotKey> hotKeys;
    for (const QStringView line : QStringView(listing).split(u'\n', Qt::SkipEmptyParts)) {
        const QStringView trimmed = line.trimmed();
        const qsizetype keyStart = trimmed.indexOf(u' ') + 1;
        const qsizetype valueStart = keyStart > 0 ? trimmed.indexOf(u' ', keyStart) + 1 : 0;
        if (valueStart <= 0)
            continue;
        const QStringView schema = trimmed.first(keyStart - 1);
        const QStringView key = trimmed.sliced(keyStart, valueStart - 1 - keyStart);
        if (key == QLatin1String("custom-keybindings"))
            continue;
        if (schema == customKeybindingSchema && key != QLatin1String("binding"))
            continue;
        for (const QString& accelerator : parseGvariantStrings(trimmed.sliced(valueStart).toString()))
            if (const auto hotKey = parseGnomeAccelerator(accelerator, keyCodeFromKeysym))
                appendUnique(hotKeys, *hotKey);
    }
    return hotKeys;
}

QStringList customKeybindingPaths(const QString& listing)
{
    const QString prefix = mediaKeysSchema + QStringLiteral(" custom-keybindings ");
    QStringList paths;
    for (const QStringView line : QStringView(listing).split(u'\n', Qt::SkipEmptyParts)) {
        const QStringView trimmed = line.trimmed();
        if (!trimmed.startsWith(prefix))
            continue;
        // gsettings refuses a relocatable schema's path unless it starts and ends with a slash.
        for (const QString& path : parseGvariantStrings(trimmed.sliced(prefix.size()).toString()))
            if (path.size() > 1 && path.startsWith(u'/') && path.endsWith(u'/') && !paths.contains(path))
                paths.append(path);
    }
    return paths;
}

std::optional<SystemHotKey> parseKdeShortcut(const QString& shortcut, const KeysymToKeyCode& keyCodeFromKeysym)
{
    const QString text = shortcut.trimmed();
    if (text.isEmpty() || text.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
        return std::nullopt;
    const QKeySequence sequence = QKeySequence::fromString(text, QKeySequence::PortableText);
    if (sequence.count() != 1)
        return std::nullopt;
    const QKeyCombination combination = sequence[0];
    const Qt::KeyboardModifiers qtModifiers = combination.keyboardModifiers();
    const Qt::KeyboardModifiers known =
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier | Qt::KeypadModifier;
    if (qtModifiers & ~known)
        return std::nullopt;
    const int qtKey = combination.key();
    xkb_keysym_t keysym = qtModifiers.testFlag(Qt::KeypadModifier) ? keypadKeysym(qtKey) : XKB_KEY_NoSymbol;
    if (keysym == XKB_KEY_NoSymbol)
        keysym = keysymForQtKey(qtKey);
    if (keysym == XKB_KEY_NoSymbol)
        return std::nullopt;
    const auto key = keyCodeForKeysym(keysym, keyCodeFromKeysym);
    if (!key)
        return std::nullopt;
    int modifiers = 0;
    if (qtModifiers.testFlag(Qt::ShiftModifier))
        modifiers |= modShift;
    if (qtModifiers.testFlag(Qt::ControlModifier))
        modifiers |= modControl;
    if (qtModifiers.testFlag(Qt::AltModifier))
        modifiers |= modAlt;
    if (qtModifiers.testFlag(Qt::MetaModifier))
        modifiers |= modSuper;
    return SystemHotKey{*key, modifiers};
}

QList<SystemHotKey> parseKdeShortcutFile(const QByteArray& contents, const KeysymToKeyCode& keyCodeFromKeysym)
{
    QList<SystemHotKey> hotKeys;
    bool inShortcutGroup = false;
    bool plainValues = false;
    for (const QByteArray& line : contents.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        if (trimmed.startsWith('[')) {
            const QStringList path = groupPath(trimmed);
            // "$Version", "$InverseAction", "$Triggers": kglobalaccel's own bookkeeping.
            inShortcutGroup = !path.isEmpty() && std::none_of(path.cbegin(), path.cend(), [](const QString& part) {
                return part.startsWith(u'$');
            });
            // Launcher shortcuts of applications hold the shortcut text alone, not "active,default,name".
            plainValues = !path.isEmpty() && path.first() == QLatin1String("services");
            continue;
        }
        const qsizetype equals = trimmed.indexOf('=');
        if (!inShortcutGroup || equals <= 0)
            continue;
        QByteArray key = trimmed.left(equals).trimmed();
        if (key.endsWith(']') && key.contains("[$"))  // option flags such as [$i]
            key = key.left(key.indexOf("[$")).trimmed();
        if (key == "_k_friendly_name")
            continue;
        const QString value = unescapeKConfigValue(trimmed.mid(equals + 1).trimmed());
        const QString active = plainValues ? value : firstListElement(value);
        for (const QString& text : active.split(u'\t', Qt::SkipEmptyParts))
            if (const auto hotKey = parseKdeShortcut(text, keyCodeFromKeysym))
                appendUnique(hotKeys, *hotKey);
    }
    return hotKeys;
}

BindingSources bindingSourcesFor(const QString& currentDesktop)
{
    const QStringList names = currentDesktop.split(u':', Qt::SkipEmptyParts);
    if (names.isEmpty())
        return {true, true};
    // Desktops whose window manager and shell read GNOME's keybinding schemas.
    static const char* const gnomeFamily[] = {"GNOME", "GNOME-Classic", "GNOME-Flashback",
                                              "Unity", "Budgie",        "Pantheon"};
    BindingSources sources;
    for (const QString& name : names) {
        for (const char* gnome : gnomeFamily)
            if (name.compare(QLatin1String(gnome), Qt::CaseInsensitive) == 0)
                sources.gnome = true;
        if (name.compare(QLatin1String("KDE"), Qt::CaseInsensitive) == 0)
            sources.kde = true;
    }
    return sources;
}

KeysymToKeyCode keysymLookup(xkb_keymap* keymap)
{
    QHash<quint32, int> keys;
    if (keymap) {
        const xkb_keycode_t first = xkb_keymap_min_keycode(keymap);
        const xkb_keycode_t last = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap), 0xffff);
        const xkb_layout_index_t layouts = xkb_keymap_num_layouts(keymap);
        for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
            for (xkb_level_index_t level = 0; level < 2; ++level) {
                for (xkb_keycode_t keycode = first; keycode <= last; ++keycode) {
                    if (layout >= xkb_keymap_num_layouts_for_key(keymap, keycode) ||
                        level >= xkb_keymap_num_levels_for_key(keymap, keycode, layout))
                        continue;
                    const auto code = keyCodeFromX11Keycode(int(keycode));
                    if (!code)
                        continue;
                    const xkb_keysym_t* syms = nullptr;
                    const int count = xkb_keymap_key_get_syms_by_level(keymap, keycode, layout, level, &syms);
                    for (int i = 0; i < count; ++i)
                        if (!keys.contains(syms[i]))
                            keys.insert(syms[i], *code);
                }
            }
        }
    }
    return [keys](quint32 keysym) -> std::optional<int> {
        const auto it = keys.constFind(keysym);
        return it == keys.cend() ? std::nullopt : std::optional<int>(*it);
    };
}

KeysymToKeyCode defaultKeymapLookup()
{
    const Context context(xkb_context_new(XKB_CONTEXT_NO_FLAGS), &xkb_context_unref);
    if (!context)
        return keysymLookup(nullptr);
    const Keymap keymap(xkb_keymap_new_from_names(context.get(), nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS),
                        &xkb_keymap_unref);
    return keysymLookup(keymap.get());
}

KeysymToKeyCode currentKeymapLookup()
{
    const Context context(xkb_context_new(XKB_CONTEXT_NO_FLAGS), &xkb_context_unref);
    if (!context)
        return keysymLookup(nullptr);
    const Keymap keymap(newCurrentKeymap(context.get()), &xkb_keymap_unref);
    return keysymLookup(keymap.get());
}

xkb_keymap* newCurrentKeymap(xkb_context* context)
{
    if (Keymap keymap = x11Keymap(context))
        return keymap.release();
    return xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
}

QList<SystemHotKey> DesktopKeyBindings::enabledHotKeys() const
{
    const BindingSources sources = bindingSourcesFor(qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
    if (!sources.gnome && !sources.kde)
        return {};
    const KeysymToKeyCode keyCodeFromKeysym = currentKeymapLookup();
    QList<SystemHotKey> hotKeys;
    if (sources.gnome)
        appendGnomeBindings(hotKeys, keyCodeFromKeysym);
    if (sources.kde)
        appendKdeBindings(hotKeys, keyCodeFromKeysym);
    return hotKeys;
}

}  // namespace nimbrel::native
