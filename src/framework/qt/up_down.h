#pragma once
// An up-down control: two arrow buttons beside its buddy edit. It never takes the focus; each
// click asks the owner to step, as the platform's control does.

#include <QWidget>
#include <functional>

class QToolButton;

namespace fw::qt {

class UpDown final : public QWidget {
 public:
  // `step` gets +1 for the upper arrow, -1 for the lower one.
  UpDown(QWidget* parent, std::function<void(int)> step);

  [[nodiscard]] QToolButton* UpButton() const { return up_; }
  [[nodiscard]] QToolButton* DownButton() const { return down_; }

 protected:
  void resizeEvent(QResizeEvent* e) override;

 private:
  QToolButton* up_;  // child widgets, owned by this widget
  QToolButton* down_;
};

}  // namespace fw::qt
