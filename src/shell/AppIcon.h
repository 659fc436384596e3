#pragma once

#include <QIcon>

namespace nimbrel {

// Nimbrel's own icon, a clipboard carrying a heart, drawn at every size so it stays crisp on HiDPI.
QIcon appIcon();

}  // namespace nimbrel
