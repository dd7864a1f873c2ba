#include "console/ports_dlg.h"

#include <utility>

#include "res/resource.h"

CPortsDlg::CPortsDlg(fw::Backend& ui, std::unique_ptr<ports::DeviceSource> source,
                     std::filesystem::path portsDir, CDialog* parent)
    : CDialog(ui, IDD_PORTS, parent), m_source(std::move(source)), m_dir(std::move(portsDir)) {
  MapCommand(IDC_PORTS_MAP, BN_CLICKED, [this] { OnMap(); });
  MapCommand(IDC_PORTS_UNMAP, BN_CLICKED, [this] { OnUnmap(); });
  MapCommand(IDC_PORTS_TABLE, LBN_SELCHANGE, [this] { UpdateButtons(); });
  MapCommand(IDC_PORTS_DEVICES, LBN_SELCHANGE, [this] { UpdateButtons(); });
}

void CPortsDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_PORTS_TABLE, m_listPorts);
  DDX_Control(pDX, IDC_PORTS_DEVICES, m_listDevices);
}

BOOL CPortsDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  (void)m_source->TakeChanges();  // what is there now is enumerated below
  m_found = m_source->Enumerate();
  Refresh();
  if (!m_shown.ports.empty()) m_listPorts.SetCurSel(0);
  UpdateButtons();
  SetTimer(TIMER_PORTS_REFRESH, kPortsRefreshMs);
  return TRUE;
}

void CPortsDlg::OnTimer(UINT_PTR id) {
  if (id == TIMER_PORTS_REFRESH) Refresh();
}

void CPortsDlg::Refresh() {
  if (m_source->TakeChanges()) m_found = m_source->Enumerate();
  // Links and pseudo-terminals change without udev hearing of it: the table is built each time,
  // and shown only when it differs.
  ports::Snapshot next = ports::BuildSnapshot(m_found, *m_source, m_dir);
  if (m_shownOnce && next == m_shown) return;

  const ports::PortRow* port = SelectedPort();
  const int selPort = port ? port->port : -1;
  const ports::DeviceRow* dev = SelectedDevice();
  const std::string selNode = dev ? dev->device.node : std::string();

  m_shown = std::move(next);
  m_shownOnce = true;
  m_listPorts.ResetContent();
  m_listDevices.ResetContent();
  for (const auto& line : ports::PortLines(m_shown)) m_listPorts.AddString(line);
  for (const auto& line : ports::DeviceLines(m_shown)) m_listDevices.AddString(line);
  if (m_shown.devices.empty()) m_listDevices.AddString("(no serial devices found)");
  for (size_t i = 0; i < m_shown.ports.size(); ++i) {
    if (m_shown.ports[i].port == selPort) m_listPorts.SetCurSel(static_cast<int>(i));
  }
  for (size_t i = 0; i < m_shown.devices.size(); ++i) {
    if (m_shown.devices[i].device.node == selNode) m_listDevices.SetCurSel(static_cast<int>(i));
  }
  UpdateButtons();
}

const ports::PortRow* CPortsDlg::SelectedPort() const {
  const int i = m_listPorts.GetCurSel();
  return i >= 0 && static_cast<size_t>(i) < m_shown.ports.size() ? &m_shown.ports[i] : nullptr;
}

const ports::DeviceRow* CPortsDlg::SelectedDevice() const {
  const int i = m_listDevices.GetCurSel();
  return i >= 0 && static_cast<size_t>(i) < m_shown.devices.size() ? &m_shown.devices[i] : nullptr;
}

// Map needs a port and a device, Unmap a mapped port.
void CPortsDlg::UpdateButtons() {
  const ports::PortRow* port = SelectedPort();
  GetDlgItem(IDC_PORTS_MAP)->EnableWindow(port && SelectedDevice() ? TRUE : FALSE);
  GetDlgItem(IDC_PORTS_UNMAP)->EnableWindow(port && port->mapped ? TRUE : FALSE);
}

void CPortsDlg::SetResult(const std::string& text) {
  GetDlgItem(IDC_PORTS_RESULT)->SetWindowText(text);
}

void CPortsDlg::OnMap() {
  const ports::PortRow* port = SelectedPort();
  const ports::DeviceRow* dev = SelectedDevice();
  if (!port || !dev) return;
  const std::string name = ports::PortName(port->port);
  const std::string target = dev->device.byId.empty() ? dev->device.node : dev->device.byId;
  if (const ports::Outcome o = ports::Map(m_dir, port->port, target); !o.ok) {
    AfxMessageBox(o.error);
    return;
  }
  SetResult(name + " now opens " + target);
  Refresh();
}

void CPortsDlg::OnUnmap() {
  const ports::PortRow* port = SelectedPort();
  if (!port || !port->mapped) return;
  const uint8_t n = port->port;
  const std::string name = ports::PortName(n);
  if (const ports::Outcome o = ports::Unmap(m_dir, n); !o.ok) {
    AfxMessageBox(o.error);
    return;
  }
  SetResult(name + " opens " + ports::DeviceOf(m_dir, n) + " again");
  Refresh();
}
