#pragma once
// "Ports": which device each COMn opens and the serial devices of this machine, as two sortable
// tables, with Map and Unmap on the selected rows. It follows devices being plugged and
// unplugged while it is open. What it shows and does comes from ports::Browser.

#include <QBasicTimer>
#include <QDialog>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ports/browser.h"

class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;

namespace views {

inline constexpr int kPortsRefreshMs = 500;

class PortsWindow final : public QDialog {
 public:
  PortsWindow(std::unique_ptr<ports::DeviceSource> source, std::filesystem::path dir,
              QWidget* parent = nullptr);
  ~PortsWindow() override;

  void Refresh();
  void MapSelected();
  void UnmapSelected();

  [[nodiscard]] QTableView* PortsTable() const { return portsTable_; }
  [[nodiscard]] QTableView* DevicesTable() const { return devicesTable_; }
  [[nodiscard]] QPushButton* MapButton() const { return map_; }
  [[nodiscard]] QPushButton* UnmapButton() const { return unmap_; }
  [[nodiscard]] QLabel* ResultLabel() const { return result_; }
  [[nodiscard]] QLabel* NoDevicesLabel() const { return noDevices_; }
  [[nodiscard]] const ports::Snapshot& Shown() const { return browser_.Shown(); }

  // The selected rows, whatever the sort order.
  [[nodiscard]] std::vector<uint8_t> SelectedPorts() const;
  [[nodiscard]] std::vector<std::string> SelectedDevices() const;

  // Says why a Map or Unmap failed; tests replace it.
  std::function<void(QWidget* parent, const QString& text)> warn;

 protected:
  void timerEvent(QTimerEvent* e) override;

 private:
  void Show();
  void UpdateButtons();
  void Report(const ports::Browser::Result& r);

  ports::Browser browser_;
  QStandardItemModel* portsModel_ = nullptr;  // owned by this widget
  QStandardItemModel* devicesModel_ = nullptr;
  QSortFilterProxyModel* portsProxy_ = nullptr;
  QSortFilterProxyModel* devicesProxy_ = nullptr;
  QTableView* portsTable_ = nullptr;
  QTableView* devicesTable_ = nullptr;
  QLabel* noDevices_ = nullptr;
  QPushButton* map_ = nullptr;
  QPushButton* unmap_ = nullptr;
  QLabel* result_ = nullptr;
  QBasicTimer refresh_;
};

}  // namespace views
