// GNOME custom keybindings written through GIO's keyfile backend, against GNOME's own schemas compiled in the
// build (NIMBREL_GNOME_SCHEMAS): never the user's settings.

#include "platform/linux/GnomeCustomKeybinding.h"
#include "support/fake/FakePlatform.h"

#include "KeyboardShortcuts/KeyCodes.h"
#include "support/TestEnvironment.h"

#include <QFile>

#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include <gtest/gtest.h>

using namespace nimbrel;
using namespace nimbrel::KeyboardShortcuts;
using native::GnomeCustomKeybinding;

namespace {

constexpr int keyCodeV = 9;
const QString fullSchemas = QStringLiteral(NIMBREL_GNOME_SCHEMAS "/full");
const QString custom0 = QStringLiteral("/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/");
const QString ours = QLatin1String(GnomeCustomKeybinding::path);

// The custom keybinding list and Nimbrel's entry ("name|command|binding") in the key file, read afresh.
std::pair<QStringList, QString> read(const QString& keyfile)
{
    g_autoptr(GSettingsSchemaSource) source =
        g_settings_schema_source_new_from_directory(fullSchemas.toUtf8().constData(), nullptr, FALSE, nullptr);
    g_autoptr(GSettingsBackend) backend = g_keyfile_settings_backend_new(keyfile.toUtf8().constData(), "/", nullptr);
    const auto settings = [&](const char* schema, const char* path) {
        g_autoptr(GSettingsSchema) found = g_settings_schema_source_lookup(source, schema, FALSE);
        return g_settings_new_full(found, backend, path);
    };
    g_autoptr(GSettings) list = settings("org.gnome.settings-daemon.plugins.media-keys", nullptr);
    g_auto(GStrv) paths = g_settings_get_strv(list, "custom-keybindings");
    g_autoptr(GSettings) entry =
        settings("org.gnome.settings-daemon.plugins.media-keys.custom-keybinding", GnomeCustomKeybinding::path);
    QStringList values;
    for (const char* key : {"name", "command", "binding"}) {
        g_autofree gchar* value = g_settings_get_string(entry, key);
        values.append(QString::fromUtf8(value));
    }
    QStringList written;
    for (gchar** p = paths; *p; ++p)
        written.append(QString::fromUtf8(*p));
    return {written, values.join(u'|')};
}

// The user's own settings before Nimbrel's: one custom keybinding and, optionally, a window manager binding.
QByteArray userSettings(const char* customBinding = "<Super>e", const char* wmClose = nullptr)
{
    QByteArray text = "[org/gnome/settings-daemon/plugins/media-keys]\ncustom-keybindings=['" + custom0.toUtf8() +
                      "']\n[org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0]\n"
                      "name='Editor'\ncommand='gedit'\nbinding='" +
                      customBinding + "'\n";
    if (wmClose)
        text += "[org/gnome/desktop/wm/keybindings]\nclose=['" + QByteArray(wmClose) + "']\n";
    return text;
}

TEST(GnomeCustomKeybinding, WritesOneEntryBesideTheUsersOnlyWhenAllowedAndTakesItOutAgain)
{
    // a: allow, d: withdraw consent, u: unregister the first registration; registrations S: Shift+Super+V,
    // V: Super+V, C: Control+Alt+Fn+C.
    const QHash<QChar, std::pair<int, int>> keys = {{'S', {keyCodeV, modSuper | modShift}},
                                                    {'V', {keyCodeV, modSuper}},
                                                    {'C', {8, modControl | modAlt | modFunction}}};
    const int ok = hotKeyNoError, exists = hotKeyTaken;
    struct Case {
        const char* name;
        QByteArray before;
        QString steps;
        QList<int> statuses;
        const char* binding;  // the entry's binding; "" for no entry
        QString schemas = fullSchemas;
    };
    const Case cases[] = {
        {"added after the user's entry", userSettings(), "aS", {ok}, "<Shift><Super>v"},
        {"registered again: replaced, the old one removes nothing",
         userSettings(),
         "aSCu",
         {ok, ok},
         "<Control><Alt>c"},
        {"unregistered: the user's entry stays", userSettings(), "aSu", {ok}, ""},
        {"not allowed: nothing written", userSettings(), "S", {native::hotKeyNotAllowedErr}, ""},
        {"consent withdrawn: removed", userSettings(), "aSdS", {ok, native::hotKeyNotAllowedErr}, ""},
        {"held by another custom keybinding, written otherwise", userSettings("<Super><Shift>V"), "aS", {exists}, ""},
        {"held by the window manager", userSettings("<Super>e", "<Shift><Super>v"), "aSV", {exists, ok}, "<Super>v"},
        {"its own earlier binding is no conflict", userSettings(), "aSS", {ok, ok}, "<Shift><Super>v"},
        {"media keys schema missing", userSettings(), "aS", {hotKeyInvalid}, "", NIMBREL_GNOME_SCHEMAS "/wm-only"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString keyfile = test::freshDirectory() + QStringLiteral("/keyfile");
        QFile file(keyfile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(c.before) == c.before.size());
        file.close();
        fake::RecordingConsole console;
        {
            GnomeCustomKeybinding binding(QStringLiteral("/opt/My Tools/nimbrel's"), console, {c.schemas, keyfile});
            const bool available = c.schemas == fullSchemas;
            EXPECT_EQ(binding.isAvailable(), available);
            QList<int> statuses;
            QList<HotKeyRef> refs;
            for (const QChar step : c.steps) {
                if (step == 'a' || step == 'd')
                    binding.setAllowed(step == 'a');
                else if (step == 'u')
                    binding.unregisterHotKey(refs.first());
                else
                    statuses.append(
                        binding.registerHotKey(keys[step].first, keys[step].second, {1, 1}, refs.emplaceBack(0)));
            }
            EXPECT_EQ(statuses, c.statuses);
            const auto [entries, entry] = read(keyfile);
            EXPECT_EQ(entries, (*c.binding ? QStringList{custom0, ours} : QStringList{custom0}));
            const QString command = QStringLiteral("'/opt/My Tools/nimbrel'\\''s' --toggle");
            EXPECT_EQ(entry, *c.binding ? "Nimbrel|" + command + "|" + c.binding : QString("||"));
            EXPECT_EQ(console.lines.size(), available ? 0 : 1) << console.lines.join(u'\n').toStdString();
        }
        EXPECT_EQ(read(keyfile), (std::pair(QStringList{custom0}, QString("||"))))
            << "gone when the object goes; the user's entry stays";
    }
}

}  // namespace
