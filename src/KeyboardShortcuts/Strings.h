#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace nimbrel::KeyboardShortcuts {

// Looks up the module's interface texts (the recorder's placeholders and alerts) in the application's
// current language. Set by the composition root; answers the key itself for a missing text.
using Strings = std::function<QString(const QString& key)>;

// The module's text for `key`. The application's tables are keyed by their Simplified Chinese text, but
// the module's keys are identifiers, so when the lookup gives nothing better than the key (the key
// language has no table, or a table lacks the entry) the module's own Simplified Chinese text is used;
// a key the module does not know comes back unchanged.
QString localizedString(const Strings& strings, const QString& key);

// The module's own Simplified Chinese text for one of its keys; std::nullopt for any other key.
std::optional<QString> builtInText(const QString& key);
// Every key the module looks up.
QStringList builtInKeys();

}  // namespace nimbrel::KeyboardShortcuts
