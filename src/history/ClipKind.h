#pragma once

#include <QString>

#include <array>
#include <optional>

namespace nimbrel {

// What a history record holds. Raw values are persisted; their case order is the order of allCases.
enum class ClipKind { text, image, link, color };

inline constexpr std::array<ClipKind, 4> allClipKinds{ClipKind::text, ClipKind::image, ClipKind::link, ClipKind::color};

QString rawValue(ClipKind kind);
// Exact, case-sensitive match of the four raw values; anything else matches none.
std::optional<ClipKind> clipKindFromRaw(const QString& raw);

}  // namespace nimbrel
