#pragma once
// The Ports window: which device each COMn opens, the serial devices of this machine, and Map
// and Unmap between them. It follows devices being plugged and unplugged while it is open.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "ports/ports.h"

inline constexpr UINT_PTR TIMER_PORTS_REFRESH = 1;
inline constexpr UINT kPortsRefreshMs = 500;

class CPortsDlg : public CDialog {
 public:
  CPortsDlg(fw::Backend& ui, std::unique_ptr<ports::DeviceSource> source,
            std::filesystem::path portsDir, CDialog* parent = nullptr);

  // Handlers, public so that tests may call them as the window would.
  void OnMap();
  void OnUnmap();
  void OnTimer(UINT_PTR id) override;

  [[nodiscard]] const ports::Snapshot& Shown() const { return m_shown; }

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;

 private:
  // Builds the lists anew and shows them when anything changed, keeping the selected port and
  // device selected.
  void Refresh();
  void UpdateButtons();
  void SetResult(const std::string& text);
  [[nodiscard]] const ports::PortRow* SelectedPort() const;
  [[nodiscard]] const ports::DeviceRow* SelectedDevice() const;

  std::unique_ptr<ports::DeviceSource> m_source;
  std::filesystem::path m_dir;
  std::vector<ports::Device> m_found;
  ports::Snapshot m_shown;
  bool m_shownOnce = false;
  CListBox m_listPorts;
  CListBox m_listDevices;
};
