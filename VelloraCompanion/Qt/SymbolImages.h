#pragma once

#include <QIcon>
#include <string>

#include "VelloraCompanion/Model/Desktop.h"

namespace vellora {

// The image of a named system symbol drawn for a menu item: kImageWidth x kImageHeight of
// StatusMenu with the symbol in kSymbolRect, a template image (it takes the menu's text colour).
// A null icon when the platform has no such symbol. On macOS the named system symbols; elsewhere
// the closest freedesktop icon-theme icon, else a drawing of our own, so a bare session has
// every image too.
QIcon menuSymbolImage(const std::string& symbolName, const std::string& accessibilityDescription);

// The status item's image: `appearance.symbolName` at its size, or a null icon when the symbol
// does not exist (the item then shows `fallbackTitle`). Our own drawing has dark lines inside a
// light outline, since the colour of the panel it lands on is not known.
QIcon statusItemSymbolImage(const StatusItemAppearance& appearance);

// An image showing `title` in place of a missing status-item symbol, for trays that show
// images only; drawn like the status item's image.
QIcon statusItemTitleImage(const std::string& title);

}  // namespace vellora
