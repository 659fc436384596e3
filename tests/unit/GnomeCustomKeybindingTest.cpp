// GNOME custom keybindings written through GIO's keyfile backend, against GNOME's own schemas compiled in the
// build (NIMBREL_GNOME_SCHEMAS): never the user's settings.

#include "support/fake/FakePlatform.h"
#include "platform/linux/GnomeCustomKeybinding.h"

#include "KeyboardShortcuts/KeyCodes.h"
#include "support/TestEnvironment.h"

#include <QFile>

#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>
#include <xkbcommon/xkbcommon.h>

#include <gtest/gtest.h>

#include <functional>

using namespace nimbrel;
using namespace nimbrel::KeyboardShortcuts;
using native::GnomeCustomKeybinding;

namespace {

constexpr int keyCodeV = 9;
constexpr int keyCodeC = 8;
constexpr int keyCodeZ = 6;
const QString fullSchemas = QStringLiteral(NIMBREL_GNOME_SCHEMAS "/full");
const QString custom0 = QStringLiteral("/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/");
const QString ours = QLatin1String(GnomeCustomKeybinding::path);

// What the key file holds, read afresh through a backend of its own.
struct Written {
    QStringList entries;
    QString name, command, binding;
};

Written read(const QString& keyfile)
{
    GSettingsSchemaSource* source =
        g_settings_schema_source_new_from_directory(fullSchemas.toUtf8().constData(), nullptr, FALSE, nullptr);
    GSettingsBackend* backend = g_keyfile_settings_backend_new(keyfile.toUtf8().constData(), "/", nullptr);
    GSettingsSchema* mediaKeys =
        g_settings_schema_source_lookup(source, "org.gnome.settings-daemon.plugins.media-keys", FALSE);
    GSettingsSchema* entry = g_settings_schema_source_lookup(
        source, "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding", FALSE);
    Written written;
    GSettings* list = g_settings_new_full(mediaKeys, backend, nullptr);
    gchar** paths = g_settings_get_strv(list, "custom-keybindings");
    for (gchar** p = paths; *p; ++p)
        written.entries.append(QString::fromUtf8(*p));
    g_strfreev(paths);
    GSettings* values = g_settings_new_full(entry, backend, ours.toUtf8().constData());
    for (auto [key, field] : {std::pair{"name", &written.name}, std::pair{"command", &written.command},
                              std::pair{"binding", &written.binding}}) {
        gchar* value = g_settings_get_string(values, key);
        *field = QString::fromUtf8(value);
        g_free(value);
    }
    g_object_unref(values);
    g_object_unref(list);
    g_settings_schema_unref(entry);
    g_settings_schema_unref(mediaKeys);
    g_object_unref(backend);
    g_settings_schema_source_unref(source);
    return written;
}

// The user's own settings before Nimbrel's: one custom keybinding (Super+E unless given) and, optionally, a
// window manager binding.
QByteArray userSettings(const char* customBinding = "<Super>e", const char* wmClose = nullptr)
{
    QByteArray text =
        "[org/gnome/settings-daemon/plugins/media-keys]\n"
        "custom-keybindings=['/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/']\n"
        "[org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0]\n"
        "name='Editor'\ncommand='gedit'\nbinding='" +
        QByteArray(customBinding) + "'\n";
    if (wmClose)
        text += "[org/gnome/desktop/wm/keybindings]\nclose=['" + QByteArray(wmClose) + "']\n";
    return text;
}

}  // namespace

TEST(GnomeCustomKeybinding, WritesOneEntryBesideTheUsersOnlyWhenAllowed)
{
    using Steps = std::function<void(GnomeCustomKeybinding&, QStringList & statuses)>;
    const auto reg = [](GnomeCustomKeybinding& keys, int key, int modifiers, HotKeyRef& ref) {
        return QString::number(keys.registerHotKey(key, modifiers, {1, 1}, ref));
    };
    const int superShift = modSuper | modShift;
    struct Case {
        const char* name;
        QByteArray before;
        Steps steps;
        QStringList statuses;
        QStringList entries;
        const char* binding;  // the entry's binding; "" for none written
        QString schemas = fullSchemas;
        bool available = true;
    };
    const QString ok = QString::number(hotKeyNoError);
    const QString exists = QString::number(hotKeyTaken);
    const QString invalid = QString::number(hotKeyInvalid);
    const QString notAllowed = QString::number(native::hotKeyNotAllowedErr);
    const Case cases[] = {
        {"added after the user's entry",
         userSettings(),
         [&](GnomeCustomKeybinding& keys, QStringList& statuses) {
             keys.setAllowed(true);
             HotKeyRef ref = 0;
             statuses << reg(keys, keyCodeV, superShift, ref);
         },
         {ok},
         {custom0, ours},
         "<Shift><Super>v"},
        {"registered again: replaced, one entry; the replaced registration no longer removes it",
         userSettings(),
         [&](GnomeCustomKeybinding& keys, QStringList& statuses) {
             keys.setAllowed(true);
             HotKeyRef first = 0, second = 0;
             statuses << reg(keys, keyCodeV, superShift, first)
                      << reg(keys, keyCodeC, modControl | modAlt | modFunction, second);
             keys.unregisterHotKey(first);
         },
         {ok, ok},
         {custom0, ours},
         "<Control><Alt>c"},
        {"unregistered: the user's entry stays",
         userSettings(),
         [&](GnomeCustomKeybinding& keys, QStringList& statuses) {
             keys.setAllowed(true);
             HotKeyRef ref = 0;
             statuses << reg(keys, keyCodeV, superShift, ref);
             keys.unregisterHotKey(ref);
         },
         {ok},
         {custom0},
         ""},
        {"not allowed: nothing written",
         userSettings(),
         [&](GnomeCustomKeybinding& keys, QStringList& statuses) {
             HotKeyRef ref = 0;
             statuses << reg(keys, keyCodeV, superShift, ref);
         },
         {notAllowed},
         {custom0},
         ""},
        {"consent withdrawn: removed",
         userSettings(),
         [&](GnomeCustomKeybinding& keys, QStringList& statuses) {
             keys.setAllowed(true);
             HotKeyRef ref = 0;
             statuses << reg(keys, keyCodeV, superShift, ref);
             keys.setAllowed(false);
             statuses << reg(keys, keyCodeV, superShift, ref);
         },
         {ok, notAllowed},
         {custom0},
         ""},
        {"held by another custom keybinding, written otherwise",
         userSettings("<Super><Shift>V"),
         [&](GnomeCustomKeybinding& keys, QStringList& statuses) {
             keys.setAllowed(true);
             HotKeyRef ref = 0;
             statuses << reg(keys, keyCodeV, superShift, ref);
         },
         {exists},
         {custom0},
         ""},
        {"held by the window manager",
         userSettings("<Super>e", "<Shift><Super>v"),
         [&](GnomeCustomKeybinding& keys, QStringList& statuses) {
             keys.setAllowed(true);
             HotKeyRef ref = 0;
             statuses << reg(keys, keyCodeV, superShift, ref) << reg(keys, keyCodeV, modSuper, ref);
         },
         {exists, ok},
         {custom0, ours},
         "<Super>v"},
        {"its own earlier binding is no conflict",
         userSettings(),
         [&](GnomeCustomKeybinding& keys, QStringList& statuses) {
             keys.setAllowed(true);
             HotKeyRef ref = 0;
             statuses << reg(keys, keyCodeV, superShift, ref) << reg(keys, keyCodeV, superShift, ref);
         },
         {ok, ok},
         {custom0, ours},
         "<Shift><Super>v"},
        {"media keys schema missing",
         userSettings(),
         [&](GnomeCustomKeybinding& keys, QStringList& statuses) {
             keys.setAllowed(true);
             HotKeyRef ref = 0;
             statuses << reg(keys, keyCodeV, superShift, ref);
         },
         {invalid},
         {custom0},
         "",
         QStringLiteral(NIMBREL_GNOME_SCHEMAS "/wm-only"),
         false},
        {"no schemas at all",
         userSettings(),
         [&](GnomeCustomKeybinding& keys, QStringList& statuses) {
             keys.setAllowed(true);
             HotKeyRef ref = 0;
             statuses << reg(keys, keyCodeV, superShift, ref);
         },
         {invalid},
         {custom0},
         "",
         test::freshDirectory(),
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString keyfile = test::freshDirectory() + QStringLiteral("/keyfile");
        QFile file(keyfile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.before);
        file.close();
        fake::RecordingConsole console;
        QStringList statuses;
        {
            GnomeCustomKeybinding keys(QStringLiteral("/opt/My Tools/nimbrel's"), console, {c.schemas, keyfile});
            EXPECT_EQ(keys.isAvailable(), c.available);
            c.steps(keys, statuses);
            EXPECT_EQ(statuses, c.statuses);
            const Written written = read(keyfile);
            EXPECT_EQ(written.entries, c.entries);
            EXPECT_EQ(written.binding, QLatin1String(c.binding));
            if (*c.binding) {
                EXPECT_EQ(written.name, QStringLiteral("Nimbrel"));
                EXPECT_EQ(written.command, QStringLiteral("'/opt/My Tools/nimbrel'\\''s' --toggle"));
            }
            EXPECT_EQ(console.lines.size(), c.available ? 0 : 1) << console.lines.join(u'\n').toStdString();
        }
        const Written after = read(keyfile);
        EXPECT_EQ(after.entries, QStringList{custom0}) << "gone when the object goes; the user's entry stays";
        EXPECT_EQ(after.binding, QString());
    }
}

TEST(GnomeCustomKeybinding, TheKeyIsNamedAsTheLayoutTypesIt)
{
    struct Case {
        const char* layout;
        int key;
        int modifiers;
        const char* accelerator;
    };
    const Case cases[] = {
        {"us", keyCodeZ, modSuper | modShift, "<Shift><Super>z"},
        {"de", keyCodeZ, modSuper, "<Super>y"},
        {"fr", keyCodeZ, modControl | modAlt, "<Control><Alt>w"},
        {"us", 49, modSuper, "<Super>space"},
        {"ru", keyCodeV, modSuper, "<Super>Cyrillic_em"},
        {"us", 0x7fff, modSuper, nullptr},
    };
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.layout) + " " + std::to_string(c.key));
        const xkb_rule_names names{nullptr, nullptr, c.layout, nullptr, nullptr};
        xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
        ASSERT_NE(keymap, nullptr);
        const auto accelerator = native::gnomeAcceleratorFor(c.key, c.modifiers, keymap);
        EXPECT_EQ(accelerator.value_or(QStringLiteral("(none)")),
                  c.accelerator ? QString::fromLatin1(c.accelerator) : QStringLiteral("(none)"));
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
}
