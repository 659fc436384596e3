#pragma once

#include <QString>

#include <array>
#include <optional>

namespace nimbrel {

// Where the clip panel appears on the screen.
enum class PanelMode { bottom, left, right };

inline constexpr std::array<PanelMode, 3> allPanelModes{PanelMode::bottom, PanelMode::left, PanelMode::right};

QString rawValue(PanelMode mode);
std::optional<PanelMode> panelModeFromRaw(const QString& raw);

}  // namespace nimbrel
