#pragma once

#include "history/HistoryEdits.h"

#include <optional>

class QWidget;

namespace nimbrel {

class SettingsStore;

// Asks before the history is cleared, saying how many records it holds and how much room they take, in the
// interface language and its locale. The pinned records are kept unless the user ticks the box that offers to
// delete them too, shown only when there are some. Returns whether the pinned records go as well; nullopt when
// the user cancels. Blocks until answered.
std::optional<bool> askToClearHistory(QWidget* parent, const SettingsStore& settings, const HistoryUsage& usage);

// A size as the settings window writes it ("1.5 MB"), in the interface's locale; a megabyte is 1,048,576 bytes,
// as the storage budget counts it.
QString formattedSize(const SettingsStore& settings, qint64 bytes);

}  // namespace nimbrel
