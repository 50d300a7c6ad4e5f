#include "VelloraCompanion/Qt/StatusMenuView.h"

#include <QAction>
#include <QMenu>
#include <utility>

#include "VelloraCompanion/Qt/SymbolImages.h"

namespace vellora {

QMenu* makeStatusMenuView(const StatusMenu& menu, std::function<void(CompanionAction)> onAction) {
  auto* view = new QMenu();
  view->setTitle("Vellora");
  for (const StatusMenuItem& item : menu.items) {
    if (item.kind == StatusMenuItem::Kind::separator) {
      view->addSeparator();
      continue;
    }
    QAction* action = view->addAction(QString::fromStdString(item.title));
    // As in a menu-bar menu, an item without an action is shown disabled.
    action->setEnabled(item.enabled && item.action.has_value());
    if (item.symbolName) {
      action->setIcon(menuSymbolImage(*item.symbolName, item.accessibilityDescription));
    }
    action->setToolTip(QString::fromStdString(item.accessibilityDescription));
    action->setShortcut(QKeySequence(QString::fromStdString(item.keyEquivalent)));
    action->setMenuRole(QAction::NoRole);
    action->setCheckable(item.checkable);
    action->setChecked(item.checked);
    if (item.action) {
      const CompanionAction chosen = *item.action;
      QObject::connect(action, &QAction::triggered, view, [onAction, chosen] { onAction(chosen); });
    }
  }
  return view;
}

}  // namespace vellora
