#include "views/send_bytes_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "protocol/hex_bytes.h"

namespace views {

SendBytesDialog::SendBytesDialog(QWidget* parent)
    : QDialog(parent), hex_(new QLineEdit(this)), checksum_(new QCheckBox("Add checksum", this)) {
  setWindowTitle("Send Bytes");
  setAccessibleName("Send Bytes");
  hex_->setAccessibleName("Bytes in hex");
  hex_->setPlaceholderText("02 5A 0C");
  checksum_->setChecked(true);
  checksum_->setAccessibleName("Add checksum");
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* send = buttons->addButton("Send", QDialogButtonBox::AcceptRole);
  send->setAccessibleName("Send");
  QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
  cancel->setAccessibleName("Cancel");
  // The button box would accept at once: the text is checked first.
  disconnect(buttons, &QDialogButtonBox::accepted, nullptr, nullptr);
  connect(send, &QPushButton::clicked, this, [this] { OnSend(); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* form = new QFormLayout;
  form->addRow("Bytes (hex):", hex_);
  form->addRow(checksum_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  hex_->setMinimumWidth(280);
}

void SendBytesDialog::OnSend() {
  protocol::HexBytes parsed =
      protocol::ParseHexBytes(hex_->text().toStdString(), checksum_->isChecked());
  if (!parsed.error.empty()) {
    QMessageBox::warning(this, "Send Bytes", QString::fromStdString(parsed.error));
    hex_->setFocus();
    return;
  }
  bytes_ = std::move(parsed.bytes);
  accept();
}

}  // namespace views
