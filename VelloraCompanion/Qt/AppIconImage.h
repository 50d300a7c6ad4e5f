#pragma once

#include <QIcon>

#include "VelloraCompanion/Model/Desktop.h"

namespace vellora {

// The application's icon ("AppIcon", drawn from the SVG built into the program) at the size of
// `icon`, with the sizes a desktop asks for besides. Null when the image cannot be drawn.
QIcon appIconImage(const AppIcon& icon);

}  // namespace vellora
