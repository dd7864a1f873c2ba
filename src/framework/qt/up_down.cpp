#include "framework/qt/up_down.h"

#include <QToolButton>
#include <memory>
#include <utility>

namespace fw::qt {

namespace {

QToolButton* MakeArrow(QWidget* parent, Qt::ArrowType arrow, const char* name) {
  auto* b = new QToolButton(parent);
  b->setArrowType(arrow);
  b->setFocusPolicy(Qt::NoFocus);
  b->setAutoRepeat(true);
  b->setAutoRaise(false);
  b->setAccessibleName(QString::fromLatin1(name));
  return b;
}

}  // namespace

UpDown::UpDown(QWidget* parent, std::function<void(int)> step)
    : QWidget(parent),
      up_(MakeArrow(this, Qt::UpArrow, "Up")),
      down_(MakeArrow(this, Qt::DownArrow, "Down")) {
  setFocusPolicy(Qt::NoFocus);
  auto shared = std::make_shared<std::function<void(int)>>(std::move(step));
  QObject::connect(up_, &QToolButton::clicked, this, [shared] { (*shared)(+1); });
  QObject::connect(down_, &QToolButton::clicked, this, [shared] { (*shared)(-1); });
}

void UpDown::resizeEvent(QResizeEvent* /*e*/) {
  const int half = height() / 2;
  up_->setGeometry(0, 0, width(), half);
  down_->setGeometry(0, half, width(), height() - half);
}

}  // namespace fw::qt
