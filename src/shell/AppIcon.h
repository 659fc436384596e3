#pragma once

#include <QIcon>
#include <QImage>

namespace nimbrel {

// Nimbrel's own icon, a clipboard carrying a heart, drawn at every size so it stays crisp on HiDPI.
// Paused, its heart is grey and a pause sign sits on its corner: nothing is being recorded.
QIcon appIcon(bool paused = false);
// The icon at one size, drawn without needing a display (the build exports it for the desktop's icon theme).
QImage appIconImage(int size, bool paused = false);

}  // namespace nimbrel
