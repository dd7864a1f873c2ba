#include "framework/qt/window_role.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

namespace fw::qt {

namespace {

constexpr char kProperty[] = "nibpAccessibleWindow";

// Asked before Qt's own factory, for the object's most derived class first.
QAccessibleInterface* WindowFactory(const QString& /*className*/, QObject* object) {
  auto* w = qobject_cast<QWidget*>(object);
  if (w == nullptr || !w->isWindow() || !w->property(kProperty).toBool()) return nullptr;
  // QAccessibleWidget reports a window's state active from isActiveWindow().
  return new QAccessibleWidget(w, QAccessible::Window);
}

}  // namespace

void MarkAsWindow(QWidget& widget) {
  widget.setProperty(kProperty, true);
  QAccessible::installFactory(WindowFactory);  // once: a factory already installed is kept
}

}  // namespace fw::qt
