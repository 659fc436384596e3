#include "platform/linux/GnomeCustomKeybinding.h"

#include "KeyboardShortcuts/KeyCodes.h"
#include "platform/Console.h"
#include "platform/linux/DesktopKeyBindings.h"

#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>

namespace nimbrel::native {

namespace {

using namespace KeyboardShortcuts;

constexpr int shortcutModifiers = modShift | modControl | modAlt | modSuper;
const char* const entryKeys[] = {"name", "command", "binding"};

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Settings = std::unique_ptr<GSettings, GObjectUnref>;

QString fromGString(gchar* owned)
{
    const QString text = QString::fromUtf8(owned);
    g_free(owned);
    return text;
}

}  // namespace

struct GnomeCustomKeybinding::Gio {
    GSettingsSchemaSource* source = nullptr;
    GSettingsBackend* backend = nullptr;
    GSettingsSchema* mediaKeys = nullptr;
    GSettingsSchema* entry = nullptr;
    QString unavailable;

    ~Gio()
    {
        if (entry)
            g_settings_schema_unref(entry);
        if (mediaKeys)
            g_settings_schema_unref(mediaKeys);
        if (backend)
            g_object_unref(backend);
        if (source)
            g_settings_schema_source_unref(source);
    }

    // g_settings_new aborts the process on a missing schema: every schema comes from the source, looked up.
    Settings settings(GSettingsSchema* schema, const char* at = nullptr) const
    {
        return Settings(g_settings_new_full(schema, backend, at));
    }

    // "schema key value" lines, as `gsettings list-recursively` prints them, of the schema at a path.
    QString listing(GSettingsSchema* schema, const char* at = nullptr) const
    {
        const Settings values = settings(schema, at);
        const QString id = QString::fromUtf8(g_settings_schema_get_id(schema));
        QString lines;
        gchar** keys = g_settings_schema_list_keys(schema);
        for (gchar** key = keys; *key; ++key) {
            GVariant* value = g_settings_get_value(values.get(), *key);
            lines += id + u' ' + QString::fromUtf8(*key) + u' ' + fromGString(g_variant_print(value, FALSE)) + u'\n';
            g_variant_unref(value);
        }
        g_strfreev(keys);
        return lines;
    }

    // The combinations GNOME's other bindings hold: window manager, shell, media keys, custom keybindings
    // other than Nimbrel's.
    QList<SystemHotKey> otherBindings(const KeysymToKeyCode& keyCodeFromKeysym) const
    {
        QString all;
        QStringList customPaths;
        for (const QString& id : gnomeKeybindingSchemas()) {
            GSettingsSchema* schema = g_settings_schema_source_lookup(source, id.toUtf8().constData(), TRUE);
            if (!schema)
                continue;
            const QString lines = listing(schema);
            g_settings_schema_unref(schema);
            all += lines;
            if (id == gnomeMediaKeysSchema())
                customPaths = customKeybindingPaths(lines);
        }
        for (const QString& other : std::as_const(customPaths))
            if (other != QLatin1String(GnomeCustomKeybinding::path))
                all += listing(entry, other.toUtf8().constData());
        return parseGsettingsListing(all, keyCodeFromKeysym);
    }

    QStringList entries() const
    {
        gchar** paths = g_settings_get_strv(settings(mediaKeys).get(), "custom-keybindings");
        QStringList list;
        for (gchar** p = paths; *p; ++p)
            list.append(QString::fromUtf8(*p));
        g_strfreev(paths);
        return list;
    }

    void setEntries(const QStringList& list) const
    {
        QList<QByteArray> bytes;
        for (const QString& entryPath : list)
            bytes.append(entryPath.toUtf8());
        std::vector<const gchar*> strv;
        for (const QByteArray& b : std::as_const(bytes))
            strv.push_back(b.constData());
        strv.push_back(nullptr);
        g_settings_set_strv(settings(mediaKeys).get(), "custom-keybindings", strv.data());
    }
};

std::optional<QString> gnomeAcceleratorFor(int keyCode, int keyModifiers, xkb_keymap* keymap)
{
    const auto keycode = x11KeycodeFromKeyCode(keyCode);
    if (!keymap || !keycode || xkb_keymap_num_layouts_for_key(keymap, xkb_keycode_t(*keycode)) == 0)
        return std::nullopt;
    const xkb_keysym_t* syms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(keymap, xkb_keycode_t(*keycode), 0, 0, &syms) < 1)
        return std::nullopt;
    char name[64] = {};
    if (xkb_keysym_get_name(syms[0], name, sizeof name) <= 0)
        return std::nullopt;
    QString accelerator;
    const std::pair<int, const char*> modifiers[] = {
        {modShift, "<Shift>"}, {modControl, "<Control>"}, {modAlt, "<Alt>"}, {modSuper, "<Super>"}};
    for (const auto& [bit, text] : modifiers)
        if (keyModifiers & bit)
            accelerator += QLatin1String(text);
    return accelerator + QString::fromUtf8(name);
}

GnomeCustomKeybinding::GnomeCustomKeybinding(QString program, Console& console, Store store)
    : m_program(std::move(program)), m_console(console), m_gio(std::make_unique<Gio>())
{
    Gio& gio = *m_gio;
    if (store.schemaDirectory.isEmpty()) {
        if (GSettingsSchemaSource* source = g_settings_schema_source_get_default())
            gio.source = g_settings_schema_source_ref(source);
    } else {
        GError* error = nullptr;
        gio.source = g_settings_schema_source_new_from_directory(store.schemaDirectory.toUtf8().constData(), nullptr,
                                                                 FALSE, &error);
        if (error) {
            gio.unavailable = QStringLiteral("no schemas in ") + store.schemaDirectory + QStringLiteral(": ") +
                              QString::fromUtf8(error->message);
            g_error_free(error);
            return;
        }
    }
    if (!store.keyfile.isEmpty())
        gio.backend = g_keyfile_settings_backend_new(store.keyfile.toUtf8().constData(), "/", nullptr);
    const QByteArray mediaKeys = gnomeMediaKeysSchema().toUtf8(), entry = gnomeCustomKeybindingSchema().toUtf8();
    if (gio.source) {
        gio.mediaKeys = g_settings_schema_source_lookup(gio.source, mediaKeys.constData(), TRUE);
        gio.entry = g_settings_schema_source_lookup(gio.source, entry.constData(), TRUE);
    }
    bool complete = gio.mediaKeys && gio.entry && g_settings_schema_has_key(gio.mediaKeys, "custom-keybindings");
    for (const char* key : entryKeys)
        complete = complete && g_settings_schema_has_key(gio.entry, key);
    if (!complete)
        gio.unavailable = QStringLiteral("the GNOME schema ") + QString::fromUtf8(mediaKeys) +
                          QStringLiteral(" with custom keybindings is not installed");
}

GnomeCustomKeybinding::~GnomeCustomKeybinding()
{
    remove();
}

bool GnomeCustomKeybinding::isAvailable() const
{
    return m_gio->unavailable.isEmpty();
}

void GnomeCustomKeybinding::setAllowed(bool allowed)
{
    m_allowed = allowed;
    if (!allowed)
        remove();
}

int GnomeCustomKeybinding::registerHotKey(int keyCode, int keyModifiers, HotKeyIdentifier, HotKeyRef& ref)
{
    if (!isAvailable()) {
        m_console.line(QStringLiteral("No GNOME custom keybinding for the shortcut: ") + m_gio->unavailable);
        return hotKeyInvalid;
    }
    if (!m_allowed)
        return hotKeyNotAllowedErr;
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_keymap* keymap = context ? newCurrentKeymap(context) : nullptr;
    const auto accelerator = gnomeAcceleratorFor(keyCode, keyModifiers, keymap);
    const KeysymToKeyCode keyCodeFromKeysym = keysymLookup(keymap);
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    if (!accelerator) {
        m_console.line(QStringLiteral("No GNOME key name for the shortcut's key code ") +
                       QString::number(keyCode));
        return hotKeyInvalid;
    }
    const SystemHotKey wanted{keyCode, keyModifiers & shortcutModifiers};
    if (m_gio->otherBindings(keyCodeFromKeysym).contains(wanted))
        return hotKeyTaken;

    // The entry is complete before the list names it, so GNOME never sees it half written.
    const Settings entry = m_gio->settings(m_gio->entry, path);
    g_settings_set_string(entry.get(), "name", "Nimbrel");
    const QString command = fromGString(g_shell_quote(m_program.toUtf8().constData())) + QStringLiteral(" --toggle");
    g_settings_set_string(entry.get(), "command", command.toUtf8().constData());
    g_settings_set_string(entry.get(), "binding", accelerator->toUtf8().constData());
    QStringList entries = m_gio->entries();
    if (!entries.contains(QLatin1String(path))) {
        entries.append(QLatin1String(path));
        m_gio->setEntries(entries);
    }
    g_settings_sync();
    ref = m_current = m_nextRef++;
    return hotKeyNoError;
}

void GnomeCustomKeybinding::unregisterHotKey(HotKeyRef ref)
{
    // A replaced registration's entry is gone already.
    if (ref != 0 && ref == m_current)
        remove();
}

void GnomeCustomKeybinding::remove()
{
    if (!m_current)
        return;
    m_current = 0;
    QStringList entries = m_gio->entries();
    if (entries.removeAll(QLatin1String(path)))
        m_gio->setEntries(entries);
    const Settings entry = m_gio->settings(m_gio->entry, path);
    for (const char* key : entryKeys)
        g_settings_reset(entry.get(), key);
    g_settings_sync();
}

}  // namespace nimbrel::native
