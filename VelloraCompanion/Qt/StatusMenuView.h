#pragma once

#include <functional>

#include "VelloraCompanion/Model/CompanionAction.h"
#include "VelloraCompanion/Model/StatusMenu.h"

class QMenu;

namespace vellora {

// Builds a new QMenu showing `menu`, item for item: titles, enabled states, separators and
// symbol images. Choosing an item calls `onAction` with its action, on the main thread.
QMenu* makeStatusMenuView(const StatusMenu& menu, std::function<void(CompanionAction)> onAction);

}  // namespace vellora
