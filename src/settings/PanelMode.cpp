#include "settings/PanelMode.h"

namespace nimbrel {

QString rawValue(PanelMode mode)
{
    switch (mode) {
        case PanelMode::bottom:
            return QStringLiteral("bottom");
        case PanelMode::left:
            return QStringLiteral("left");
        case PanelMode::right:
            return QStringLiteral("right");
    }
    return QStringLiteral("bottom");
}

std::optional<PanelMode> panelModeFromRaw(const QString& raw)
{
    for (const PanelMode mode : allPanelModes) {
        if (rawValue(mode) == raw)
            return mode;
    }
    return std::nullopt;
}

}  // namespace nimbrel
