#pragma once
// "Send Bytes": bytes of one's own in hex, with or without a checksum, for the console to send.

#include <QDialog>
#include <cstdint>
#include <vector>

class QCheckBox;
class QLineEdit;

namespace views {

class SendBytesDialog final : public QDialog {
 public:
  explicit SendBytesDialog(QWidget* parent);
  // The bytes to send, checksum included when asked; valid once the dialog was accepted.
  [[nodiscard]] const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  void OnSend();

  QLineEdit* hex_;
  QCheckBox* checksum_;
  std::vector<uint8_t> bytes_;
};

}  // namespace views
