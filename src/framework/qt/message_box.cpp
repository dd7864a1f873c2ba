#include "framework/qt/message_box.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <utility>
#include <vector>

namespace fw::qt {

namespace {

constexpr UINT kButtonMask = 0x000F;
constexpr UINT kIconMask = 0x00F0;

constexpr int kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5, kIdYes = 6, kIdNo = 7;

QMessageBox::Icon IconOf(UINT type) {
  switch (type & kIconMask) {
    case 0x10:
      return QMessageBox::Critical;
    case 0x20:
      return QMessageBox::Question;
    case 0x30:
      return QMessageBox::Warning;
    case 0x40:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

// The buttons of each style, in the platform's order, with the id each returns.
std::vector<std::pair<QMessageBox::StandardButton, int>> ButtonsOf(UINT type) {
  switch (type & kButtonMask) {
    case 1:
      return {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
    case 2:
      return {{QMessageBox::Abort, kIdAbort},
              {QMessageBox::Retry, kIdRetry},
              {QMessageBox::Ignore, kIdIgnore}};
    case 3:
      return {
          {QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}, {QMessageBox::Cancel, IDCANCEL}};
    case 4:
      return {{QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}};
    case 5:
      return {{QMessageBox::Retry, kIdRetry}, {QMessageBox::Cancel, IDCANCEL}};
    default:
      return {{QMessageBox::Ok, IDOK}};
  }
}

}  // namespace

int ShowMessageBox(QWidget* owner, std::string_view text, std::string_view title, UINT type) {
  QMessageBox box(owner);
  box.setWindowTitle(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  box.setIcon(IconOf(type));
  if (type & MB_TEXTSELECTABLE) {
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  }
  const auto buttons = ButtonsOf(type);
  QMessageBox::StandardButtons set;
  for (const auto& [button, id] : buttons) set |= button;
  box.setStandardButtons(set);
  box.setDefaultButton(buttons.front().first);
  if (owner != nullptr) box.setWindowModality(Qt::WindowModal);
  box.exec();
  // Esc answers with the box's only button or with Cancel; a box closed otherwise counts as its
  // escape answer too.
  QAbstractButton* clicked = box.clickedButton();
  for (const auto& [button, id] : buttons) {
    if (clicked == box.button(button)) return id;
  }
  return buttons.size() == 1 ? buttons.front().second : IDCANCEL;
}

}  // namespace fw::qt
