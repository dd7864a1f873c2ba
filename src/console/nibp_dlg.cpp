#include "console/nibp_dlg.h"

#include <cstdio>
#include <cstdlib>

#include "commands/command_text.h"
#include "console/about_dlg.h"
#include "console/inflate_text.h"
#include "files/folders.h"
#include "framework/icon.h"
#include "records/file_io.h"
#include "res/resource.h"
#include "serial/port_name.h"
#include "serial/ports_dir.h"

namespace {

using commands::Command;
using commands::kInflateMax;
using commands::kInflateMin;
constexpr uint32_t kInflateStart = 160;
constexpr uint8_t kNoPort = 0;

template <typename... Args>
std::string Format(const char* fmt, Args... args) {
  char buf[128];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

}  // namespace

CNibpDlg::CNibpDlg(fw::Backend& ui, CDialog* parent)
    : CDialog(ui, IDD_QUIRAB_NIBP_DIALOG, parent), m_hIcon(fw::LoadIcon(IDR_MAINFRAME)) {
  MapHandlers();
}

CNibpDlg::CNibpDlg(fw::Backend& ui, std::shared_ptr<serial::Platform> platform, CDialog* parent)
    : CDialog(ui, IDD_QUIRAB_NIBP_DIALOG, parent),
      m_comm(std::move(platform)),
      m_hIcon(fw::LoadIcon(IDR_MAINFRAME)) {
  MapHandlers();
}

// The reader must not post to a window that is going: close as "CLOSE" does.
CNibpDlg::~CNibpDlg() {
  m_checksView.reset();  // a running check stops through the link, which goes first
  m_comm.ClosePort();
}

void CNibpDlg::MapHandlers() {
  m_link.AddSink(*this);
  MapCommand(IDC_PORT_COMBO, CBN_SELCHANGE, [this] { OnSelchangePort(); });
  MapCommand(IDC_PORT_COMBO, CBN_EDITCHANGE, [this] { OnEditchangePort(); });
  // Links change behind the window's back (a simulator, a shell): renewed before it shows.
  MapCommand(IDC_PORT_COMBO, TTN_NEEDTEXT, [this] { UpdatePortTip(); });
  MapCommand(IDC_PORT_OPEN, BN_CLICKED, [this] { OnPortOpen(); });
  MapCommand(IDC_PORT_CLOSE, BN_CLICKED, [this] { OnPortClose(); });
  MapCommand(IDC_INFLATE, EN_KILLFOCUS, [this] { OnKillfocusInflate(); });
  MapDeltaPos(IDC_INFLATE_SPIN, [this](const NMUPDOWN& nm) { return OnDeltaposInflateSpin(nm); });
  MapCommand(IDC_SET_PRESSURE, BN_CLICKED, [this] { OnSetPressure(); });
  MapCommand(IDC_START_ADULT, BN_CLICKED, [this] { OnStartAdult(); });
  MapCommand(IDC_START_NEONATE, BN_CLICKED, [this] { OnStartNeonate(); });
  MapCommand(IDC_START_PEDIATRIC, BN_CLICKED, [this] { OnStartPediatric(); });
  MapCommand(IDC_ABORT_BP, BN_CLICKED, [this] { OnAbortBp(); });
  MapCommand(IDC_GET_PRESSURE, BN_CLICKED, [this] { OnGetPressure(); });
  MapCommand(IDC_GET_BP_DATA, BN_CLICKED, [this] { OnGetBpData(); });
  MapCommand(IDC_CLEAR_DISPLAY, BN_CLICKED, [this] { OnClearDisplay(); });
  MapCommand(IDC_PUMP, BN_CLICKED, [this] { OnPump(); });
  MapCommand(IDC_CONTROL_VALVE, BN_CLICKED, [this] { OnControlValve(); });
  MapCommand(IDC_DUMP_VALVE, BN_CLICKED, [this] { OnDumpValve(); });
  MapCommand(IDC_AUTO_PRESSURE, BN_CLICKED, [this] { OnAutoPressureDisplay(); });
  MapMessage(WM_COMM_RECEIVE, [this](WPARAM w, LPARAM l) { return OnCommReceive(w, l); });
  MapCommand(ID_RAW_SAVE_AS, BN_CLICKED, [this] { OnSaveRawLog(); });
  MapCommand(ID_EVENT_SAVE_AS, BN_CLICKED, [this] { OnSaveEventLog(); });
  MapCommand(ID_RAW_SHOW_BAD_FRAMES, BN_CLICKED, [this] { OnShowBadFrames(); });
  MapCommand(ID_EVENT_HIDE_POLL, BN_CLICKED, [this] { OnHidePollLines(); });
  MapMessage(WM_RECORDING_STOPPED, [this](WPARAM w, LPARAM l) { return OnRecordingStopped(w, l); });
  MapMessage(WM_COMM_LOST, [this](WPARAM w, LPARAM l) { return OnCommLost(w, l); });
}

void CNibpDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_LIST_EVENT, m_listEvent);
  DDX_Control(pDX, IDC_LIST_RAW, m_listRaw);
  DDX_Control(pDX, IDC_INFLATE_SPIN, m_spinInflate);
  DDX_Control(pDX, IDC_PORT_COMBO, m_cbPort);
  DDX_Text(pDX, IDC_PORT_STATUS, m_strStatus);
  DDX_Text(pDX, IDC_INFLATE, m_strInflate);
  DDX_Check(pDX, IDC_PUMP, m_bPump);
  DDX_Check(pDX, IDC_CONTROL_VALVE, m_bControlValve);
  DDX_Check(pDX, IDC_DUMP_VALVE, m_bDumpValve);
  DDX_Check(pDX, IDC_AUTO_PRESSURE, m_bAutoPressure);
  DDX_Text(pDX, IDC_PRESSURE, m_strPressure);
  DDX_Text(pDX, IDC_RX_HEX, m_strRxHex);
  DDX_Text(pDX, IDC_RX_CHECK, m_strRxCheck);
}

BOOL CNibpDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  if (CMenu* sysMenu = GetSystemMenu(FALSE)) {
    std::string aboutMenu;
    if (LoadResourceString(aboutMenu, IDS_ABOUTBOX) && !aboutMenu.empty()) {
      sysMenu->AppendMenu(MF_SEPARATOR);
      sysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, aboutMenu);
    }
    sysMenu->AppendMenu(MF_STRING, IDM_PRESSURE_CHART, "Pressure Chart");
    sysMenu->AppendMenu(MF_STRING, IDM_RESULTS, "Results");
    sysMenu->AppendMenu(MF_STRING, IDM_PORTS, "Ports...");
    sysMenu->AppendMenu(MF_STRING, IDM_SEND_BYTES, "Send Bytes...");
    sysMenu->AppendMenu(MF_STRING, IDM_SERVICE_CHECKS, "Service Checks...");
    m_bFetchResult = records::LoadChoice(m_configFolder, "fetch_result", false) ? 1 : 0;
    m_bRecordSession = records::LoadRecordSession(m_configFolder) ? 1 : 0;
    sysMenu->AppendMenu(MF_SEPARATOR);
    sysMenu->AppendMenu(MF_STRING, IDM_FETCH_RESULT, "Fetch Result When Done");
    sysMenu->CheckMenuItem(IDM_FETCH_RESULT, m_bFetchResult == 1 ? MF_CHECKED : MF_UNCHECKED);
    sysMenu->AppendMenu(MF_STRING, IDM_RECORD_SESSION, "Record Session");
    sysMenu->CheckMenuItem(IDM_RECORD_SESSION, m_bRecordSession == 1 ? MF_CHECKED : MF_UNCHECKED);
    sysMenu->AppendMenu(MF_STRING, IDM_OPEN_SESSIONS, "Open Sessions Folder");
  }
  m_listRaw.AppendMenu(MF_SEPARATOR, 0, {});
  m_listRaw.AppendMenu(MF_STRING, ID_RAW_SAVE_AS, "Save As...");
  m_listRaw.AppendMenu(MF_STRING, ID_RAW_SHOW_BAD_FRAMES, "Show Bad Frames");
  CheckMenuItem(ID_RAW_SHOW_BAD_FRAMES, m_bShowBadFrames == 1 ? MF_CHECKED : MF_UNCHECKED);
  m_listEvent.AppendMenu(MF_SEPARATOR, 0, {});
  m_listEvent.AppendMenu(MF_STRING, ID_EVENT_SAVE_AS, "Save As...");
  m_listEvent.AppendMenu(MF_STRING, ID_EVENT_HIDE_POLL, "Hide Poll Lines");
  CheckMenuItem(ID_EVENT_HIDE_POLL, m_bHidePollLines == 1 ? MF_CHECKED : MF_UNCHECKED);
  // An unchecked valve is an open one: the pump alone only blows through.
  GetDlgItem(IDC_PUMP)->SetTip("Checked: pump running");
  GetDlgItem(IDC_CONTROL_VALVE)->SetTip("Checked: valve closed, unchecked: open");
  GetDlgItem(IDC_DUMP_VALVE)->SetTip("Checked: valve closed, unchecked: open");

  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);

  m_nSelPort = 1;
  m_cbPort.SetCurSel(1);
  m_spinInflate.SetRange(static_cast<int>(kInflateMin), static_cast<int>(kInflateMax));
  m_nInflate = kInflateStart;
  m_strInflate = Format("%d", static_cast<int>(m_nInflate));
  m_listRaw.ResetContent();
  m_listEvent.ResetContent();
  m_strPressure = Format("%3d  mmHg", 0);
  GetDlgItem(IDC_PRESSURE)->EnableWindow(FALSE);
  UpdateData(FALSE);
  m_rx.ResetFrameState();
  UpdatePortTip();
  (void)records::RemoveOldSessions(m_sessionsFolder, m_clock());
  if (m_bRecordSession == 1) StartRecording();
  return TRUE;
}

void CNibpDlg::OnSysCommand(UINT id, LPARAM param) {
  if ((id & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg about(Ui(), this);
    about.DoModal();
  } else if ((id & 0xFFF0) == IDM_PORTS) {
    OnPorts();
  } else if ((id & 0xFFF0) == IDM_RECORD_SESSION) {
    OnRecordSession();
  } else if ((id & 0xFFF0) == IDM_OPEN_SESSIONS) {
    OnOpenSessionsFolder();
  } else if ((id & 0xFFF0) == IDM_FETCH_RESULT) {
    OnFetchResult();
  } else if ((id & 0xFFF0) == IDM_SEND_BYTES) {
    OnSendBytes();
  } else if ((id & 0xFFF0) == IDM_PRESSURE_CHART) {
    if (!m_chartView && m_views)
      m_chartView = m_views->CreatePressureChart(m_feed.Series(), GetWindow());
    if (m_chartView) m_chartView->Show();
  } else if ((id & 0xFFF0) == IDM_SERVICE_CHECKS) {
    OnServiceChecks();
  } else if ((id & 0xFFF0) == IDM_RESULTS) {
    if (!m_resultsView && m_views)
      m_resultsView = m_views->CreateResults(m_feed.Results(), GetWindow());
    if (m_resultsView) m_resultsView->Show();
  } else {
    CDialog::OnSysCommand(id, param);
  }
}

void CNibpDlg::OnPaint() {
  if (!IsIconic()) {
    CDialog::OnPaint();
    return;
  }
  SendMessage(WM_ICONERASEBKGND);
  const int cxIcon = GetSystemMetrics(SM_CXICON);
  const int cyIcon = GetSystemMetrics(SM_CYICON);
  CRect rect;
  GetClientRect(&rect);
  const int x = (rect.Width() - cxIcon + 1) / 2;
  const int y = (rect.Height() - cyIcon + 1) / 2;
  GetWindow()->DrawIcon(x, y, m_hIcon);
}

HCURSOR CNibpDlg::OnQueryDragIcon() {
  return m_hIcon;
}

// ---- commands ----

int64_t CNibpDlg::Log(CListBox& list, records::Tag tag, std::string_view line) {
  const int64_t now = m_clock();
  list.AddString(line, now);
  list.SetCurSel(list.GetCount() - 1);
  Record(now, tag, std::string(line));
  return now;
}

void CNibpDlg::SetStatus(const std::string& text) {
  m_strStatus = text;
  Record(m_clock(), records::Tag::kStatus, text);
}

void CNibpDlg::Send(const commands::Request& request) {
  (void)m_link.Send(request);
}

void CNibpDlg::OnSetPressure() {
  UpdateData(TRUE);
  // The up-down control's own range; a typed value outside it would reach the module cut to
  // 16 bits.
  if (m_nInflate < kInflateMin || m_nInflate > kInflateMax) {
    AfxMessageBox(std::string(commands::kInflateRefused), MB_ICONEXCLAMATION);
    GotoDlgCtrl(IDC_INFLATE);
    return;
  }
  Send(commands::SetPressure(m_nInflate));
}

void CNibpDlg::OnStartAdult() {
  UpdateData(TRUE);
  Send(commands::Simple(Command::kStartAdult));
}

void CNibpDlg::OnStartNeonate() {
  UpdateData(TRUE);
  Send(commands::Simple(Command::kStartNeonate));
}

void CNibpDlg::OnStartPediatric() {
  UpdateData(TRUE);
  Send(commands::Simple(Command::kStartPediatric));
}

void CNibpDlg::OnAbortBp() {
  UpdateData(TRUE);
  Send(commands::Simple(Command::kAbortBp));
}

void CNibpDlg::OnGetPressure() {
  UpdateData(TRUE);
  Send(commands::Simple(Command::kGetPressure));
}

void CNibpDlg::OnGetBpData() {
  UpdateData(TRUE);
  Send(commands::Simple(Command::kGetBpData));
}

// The one pneumatics frame carries all three boxes; its event line names the box clicked.
void CNibpDlg::OnPump() {
  UpdateData(TRUE);
  Send(commands::Pneumatics(m_bPump == 1, m_bControlValve == 1, m_bDumpValve == 1, Command::kPump));
}

void CNibpDlg::OnControlValve() {
  UpdateData(TRUE);
  Send(commands::Pneumatics(m_bPump == 1, m_bControlValve == 1, m_bDumpValve == 1,
                            Command::kControlValve));
}

void CNibpDlg::OnDumpValve() {
  UpdateData(TRUE);
  Send(commands::Pneumatics(m_bPump == 1, m_bControlValve == 1, m_bDumpValve == 1,
                            Command::kDumpValve));
}

// ---- port ----

void CNibpDlg::OnSelchangePort() {
  m_nSelPort = static_cast<uint8_t>(m_cbPort.GetCurSel());
  UpdatePortTip();
}

void CNibpDlg::OnEditchangePort() {
  UpdatePortTip();
}

void CNibpDlg::UpdatePortTip() {
  m_cbPort.SetTip(ports::PortTip(serial::PortsDir(), m_cbPort.GetWindowText()));
}

// Modal: a mapping takes effect at the next OPEN, so nothing of the open port changes meanwhile.
void CNibpDlg::OnPorts() {
  if (m_views) m_views->RunPorts(m_makeDeviceSource(), serial::PortsDir(), GetWindow());
  UpdatePortTip();
}

void CNibpDlg::OnPortOpen() {
  // The text shown is the port opened: a typed name counts as if chosen from the list.
  const std::optional<uint8_t> typed = serial::ParsePortName(m_cbPort.GetWindowText());
  m_nSelPort = typed.value_or(kNoPort);
  if (m_nSelPort == kNoPort) {
    AfxMessageBox("Select Comport");
    return;
  }
  if (m_comm.m_bConnected == 1 || m_link.Lost()) {
    AfxMessageBox("Comport  is already used.");
    return;
  }
  if (!m_link.Open(m_nSelPort, this)) {
    const std::string fail = Format("Com_Port %d Open Fail", m_nSelPort);
    // The event log and the session keep the reason after the box is gone.
    Log(m_listEvent, records::Tag::kEvent, fail + ": " + m_link.OpenFailure());
    AfxMessageBox(fail + "\n" + m_link.OpenFailure());
    return;
  }
  VentIfDue();
}

void CNibpDlg::OnPortClose() {
  // A check stops on the close; its cuff is vented while the port can still take it, and on the
  // line before the close purges what waits.
  if (m_checksSink != nullptr && m_link.Send(commands::kAllOff) == SendResult::kSent)
    (void)m_comm.DrainOutput(kVentDrainMs);
  m_link.Close();
}

LRESULT CNibpDlg::OnCommLost(WPARAM /*wParam*/, LPARAM /*lParam*/) {
  m_link.OnLost();
  return 0;
}

// ---- inflate pressure ----

void CNibpDlg::OnKillfocusInflate() {
  UpdateData(TRUE);
  m_nInflate = static_cast<uint32_t>(console::ParseInflate(m_strInflate));
  UpdateData(FALSE);
}

LRESULT CNibpDlg::OnDeltaposInflateSpin(const NMUPDOWN& nm) {
  if (nm.iDelta < 0) {
    m_nInflate = m_nInflate <= kInflateMin ? kInflateMax : m_nInflate - 1;
  } else {
    m_nInflate = m_nInflate >= kInflateMax ? kInflateMin : m_nInflate + 1;
  }
  UpdateData(TRUE);
  return 0;  // the control steps itself and writes its position into the edit
}

// ---- logs and poll ----

void CNibpDlg::OnClearDisplay() {
  m_listRaw.ResetContent();
  m_listEvent.ResetContent();
}

void CNibpDlg::OnAutoPressureDisplay() {
  UpdateData(TRUE);
  if (m_bAutoPressure == 1) {
    SetTimer(TIMER_PRESSURE_POLL, kPressurePollMs, nullptr);
    ShowSilence();
  } else {
    KillTimer(TIMER_PRESSURE_POLL);
    m_strPressure = protocol::FormatPressure(0);
    GetDlgItem(IDC_PRESSURE)->EnableWindow(FALSE);
  }
  UpdateData(FALSE);
}

void CNibpDlg::OnTimer(UINT_PTR id) {
  CDialog::OnTimer(id);
  if (id == TIMER_PRESSURE_POLL) {
    // A closed or lost port is said once, not four times a second.
    if (m_link.Connected() && !m_link.Lost()) {
      m_pollQuiet = false;
    } else if (m_pollQuiet) {
      return;
    } else {
      m_pollQuiet = true;
    }
    m_polling = true;
    OnGetPressure();
    m_polling = false;
  } else if (id == TIMER_REPLY_DISPATCH) {
    m_pressureShown = false;
    m_link.OnTimer(modlink::Timer::kDispatch);
    ShowRxTexts();
    if (m_pressureShown) UpdateData(FALSE);
    // Sent after the tick: the link is still showing frames during it.
    if (m_fetchDue) {
      m_fetchDue = false;
      OnGetBpData();
    }
    VentIfDue();
  } else if (id == TIMER_REOPEN) {
    m_link.OnTimer(modlink::Timer::kReopen);
    VentIfDue();
  } else if (id == TIMER_SILENCE) {
    Watch(nullptr, m_clock());
  }
}

void CNibpDlg::StartTimer(modlink::Timer timer, uint32_t periodMs) {
  SetTimer(timer == modlink::Timer::kDispatch ? TIMER_REPLY_DISPATCH : TIMER_REOPEN, periodMs,
           nullptr);
}

void CNibpDlg::StopTimer(modlink::Timer timer) {
  KillTimer(timer == modlink::Timer::kDispatch ? TIMER_REPLY_DISPATCH : TIMER_REOPEN);
}

bool CNibpDlg::WatchFd(modlink::Timer timer, int fd) {
  return CDialog::WatchFd(timer == modlink::Timer::kDispatch ? TIMER_REPLY_DISPATCH : TIMER_REOPEN,
                          fd);
}

// ---- receive path ----

LRESULT CNibpDlg::OnCommReceive(WPARAM /*wParam*/, LPARAM /*lParam*/) {
  m_link.OnReceive();
  ShowRxTexts();
  UpdateData(FALSE);
  return 1;
}

void CNibpDlg::ShowRxTexts() {
  m_strRxHex = m_rx.RxHex();
  m_strRxCheck = m_rx.RxCheck();
}

void CNibpDlg::OnEvent(const modlink::Event& e) {
  const int64_t ms = ShowEvent(e);
  modlink::Event stamped = e;
  stamped.ms = ms;
  if (m_checksSink != nullptr && !e.raw) {
    if (stamped.ms == 0) stamped.ms = m_clock();
    // The boxes show the pump and valves as the check drives them.
    if (e.kind == modlink::EventKind::kSent && e.request.command == Command::kPneumatics) {
      m_bPump = e.request.pump ? 1 : 0;
      m_bControlValve = e.request.controlClosed ? 1 : 0;
      m_bDumpValve = e.request.dumpClosed ? 1 : 0;
      UpdateData(FALSE);
    }
    m_checksSink->OnEvent(stamped);
  }
  if (ms != 0) m_feed.OnEvent(stamped);
  // The watch needs a time only for what the logs stamped (sent commands, replies).
  Watch(&e, ms);
}

// ---- service checks ----

void CNibpDlg::OnServiceChecks() {
  if (!m_checksView && m_views) m_checksView = m_views->CreateServiceChecks(*this, GetWindow());
  if (m_checksView) m_checksView->Show();
}

bool CNibpDlg::ChecksPortOpen() const {
  return m_link.Connected();
}

std::string CNibpDlg::ChecksPort() const {
  return "COM" + std::to_string(m_link.Port());
}

std::string CNibpDlg::ChecksDevice() const {
  return m_link.Device();
}

SendResult CNibpDlg::ChecksSend(const commands::Request& request) {
  return m_link.Send(request);
}

void CNibpDlg::SetChecksSink(modlink::EventSink* sink) {
  m_checksSink = sink;
  EnableCommands(sink == nullptr);
}

void CNibpDlg::ChecksMarker(int64_t ms, const std::string& label) {
  m_feed.Series().AddMarker(ms, label);
}

void CNibpDlg::ChecksLog(const std::string& line) {
  Log(m_listEvent, records::Tag::kEvent, line);
}

void CNibpDlg::ChecksVentWhenBack() {
  m_ventPort = m_link.Port();
  VentIfDue();  // the port may be open and only its output full
}

void CNibpDlg::VentIfDue() {
  if (m_ventPort == 0 || m_link.Port() != m_ventPort || !m_link.Connected() || m_link.Lost())
    return;
  if (m_link.Send(commands::kAllOff) != SendResult::kSent) return;
  m_ventPort = 0;
  Log(m_listEvent, records::Tag::kEvent, "Safety: cuff vented now that the port takes commands");
  m_bPump = m_bControlValve = m_bDumpValve = 0;
  UpdateData(FALSE);
}

void CNibpDlg::EnableCommands(bool enable) {
  for (const int id :
       {IDC_SET_PRESSURE, IDC_START_ADULT, IDC_START_NEONATE, IDC_START_PEDIATRIC, IDC_ABORT_BP,
        IDC_GET_PRESSURE, IDC_GET_BP_DATA, IDC_PUMP, IDC_CONTROL_VALVE, IDC_DUMP_VALVE})
    if (CWnd* item = GetDlgItem(id)) item->EnableWindow(enable ? TRUE : FALSE);
}

void CNibpDlg::Watch(const modlink::Event* e, int64_t now) {
  console::BenchWatch::Notes notes;
  if (e != nullptr) {
    m_bench.OnEvent(*e, now, m_bPump == 1, notes);
  } else {
    m_bench.OnTick(now, notes);
  }
  for (const std::string& line : notes.lines) Log(m_listEvent, records::Tag::kEvent, line);
  if (notes.measurementDone && m_bFetchResult == 1) m_fetchDue = true;
  if (notes.silenceChanged) ShowSilence();
  if (m_bench.Waiting() != m_silenceTicking) {
    m_silenceTicking = m_bench.Waiting();
    if (m_silenceTicking) {
      SetTimer(TIMER_SILENCE, kSilenceTickMs, nullptr);
    } else {
      KillTimer(TIMER_SILENCE);
    }
  }
}

void CNibpDlg::ShowSilence() {
  CWnd* pressure = GetDlgItem(IDC_PRESSURE);
  if (!m_link.Connected() || m_link.Lost()) {
    // The last reading stays, greyed: nothing new can come.
    pressure->EnableWindow(FALSE);
    pressure->SetTip(m_link.Lost() ? "port lost" : "port closed");
  } else if (m_bench.Silent()) {
    pressure->EnableWindow(FALSE);
    // "HH:MM:SS" of "HH:MM:SS.mmm"
    pressure->SetTip("no reply since " +
                     records::TimeOfDayLocal(m_bench.SilentSinceMs()).substr(0, 8));
  } else {
    pressure->EnableWindow(m_bAutoPressure == 1 ? TRUE : FALSE);
    pressure->SetTip("");
  }
}

int64_t CNibpDlg::ShowEvent(const modlink::Event& e) {
  using modlink::EventKind;
  using records::Tag;
  // The poll's lines and their cuff pressures may be kept out of the view, never the records.
  const bool hidden =
      m_bHidePollLines == 1 &&
      (((e.kind == EventKind::kSent || e.kind == EventKind::kNotSent) && m_polling) ||
       (e.kind == EventKind::kCuffPressure && m_bAutoPressure == 1));
  const auto logEvent = [&](std::string_view line) {
    if (!hidden) return Log(m_listEvent, Tag::kEvent, line);
    const int64_t now = m_clock();
    Record(now, Tag::kEvent, std::string(line));
    return now;
  };
  const auto logLines = [&] {
    int64_t first = 0;
    for (const std::string& line : e.lines) {
      const int64_t now = logEvent(line);
      if (first == 0) first = now;
    }
    return first;
  };
  switch (e.kind) {
    case EventKind::kSent:
      Log(m_listRaw, Tag::kRaw, e.rawLine);
      return logLines();
    case EventKind::kNotSent:
      (void)logLines();
      if (const auto why = commands::NotSentText(e.reason)) (void)logEvent(*why);
      return 0;
    case EventKind::kCuffPressure:
      if (m_bAutoPressure == 1) m_strPressure = protocol::FormatPressure(e.mmHg);
      m_pressureShown = true;
      [[fallthrough]];
    case EventKind::kBpData:
    case EventKind::kShortReply:
    case EventKind::kCharReply:
      Log(m_listRaw, Tag::kRaw, e.rawLine);
      return logLines();
    case EventKind::kBadFrame:
    case EventKind::kDropped:
      OnDiscarded(e.kind == EventKind::kBadFrame ? Tag::kBad : Tag::kDropped,
                  std::string(e.rawLine));
      return 0;
    case EventKind::kPortOpen:
    case EventKind::kPortLost: {
      const bool open = e.kind == EventKind::kPortOpen;
      const std::string text =
          commands::PortStateText(e.port, open ? commands::kOpen : commands::kLost);
      SetStatus(text);
      // The first OPEN is the user's own: only the status line says it.
      if (!open || e.reopened) Log(m_listEvent, Tag::kEvent, text);
      if (e.outputDropped) Log(m_listEvent, Tag::kEvent, *commands::NotSentText(SendResult::kLost));
      ShowSilence();
      ShowRxTexts();
      UpdateData(FALSE);
      return 0;
    }
    case EventKind::kPortClosed:
      SetStatus("CLOSE");
      ShowSilence();
      ShowRxTexts();
      UpdateData(FALSE);
      return 0;
  }
  return 0;
}

// ---- records ----

void CNibpDlg::OnOK() {
  // Enter in the Initial Inflate edit takes its text, as leaving it would, and sets the pressure.
  if (GetFocusId() == IDC_INFLATE) {
    OnKillfocusInflate();
    OnSetPressure();
  }
}

void CNibpDlg::OnCancel() {}

void CNibpDlg::OnClose() {
  m_checksView.reset();
  EndDialog(IDCANCEL);
}

void CNibpDlg::Record(int64_t ms, records::Tag tag, const std::string& text) {
  if (m_session) m_session->Add(ms, tag, text);
}

void CNibpDlg::OnDiscarded(records::Tag tag, const std::string& rawLine) {
  // Recorded whether shown or not; what the raw log shows is recorded as R by Log.
  Record(m_clock(), tag, rawLine);
  if (m_bShowBadFrames != 1) return;
  Log(m_listRaw, records::Tag::kRaw,
      rawLine + (tag == records::Tag::kBad ? " checksum error" : " dropped"));
}

void CNibpDlg::OnShowBadFrames() {
  m_bShowBadFrames = m_bShowBadFrames == 1 ? 0 : 1;
  CheckMenuItem(ID_RAW_SHOW_BAD_FRAMES, m_bShowBadFrames == 1 ? MF_CHECKED : MF_UNCHECKED);
}

void CNibpDlg::SaveLog(CListBox& list, const char* stem) {
  const std::string suggested =
      (files::HomeFolder() / (stem + ("-" + records::FileStampLocal(m_clock())) + ".txt")).string();
  const std::string path = GetSaveFileName("Save As", suggested);
  if (path.empty()) return;
  const records::LogLines lines{list.GetCount(), [&](int i) { return list.GetTime(i); },
                                [&](int i) { return list.GetText(i); }};
  const std::string error = records::SaveLog(path, lines);
  if (!error.empty()) AfxMessageBox("Could not save " + path + ":\n" + error);
}

void CNibpDlg::OnSaveRawLog() {
  SaveLog(m_listRaw, "raw");
}

void CNibpDlg::OnSaveEventLog() {
  SaveLog(m_listEvent, "event");
}

void CNibpDlg::StartRecording() {
  records::SessionRecorder::Options options;
  options.folder = m_sessionsFolder;
  options.startMs = m_clock();
  options.write = m_sessionWrite;
  // The writer thread hands its failure to the window, which says so in the event log.
  options.onStopped = [this](std::stop_token stop) {
    (void)SendMessageSync(WM_RECORDING_STOPPED, 0, 0, stop);
  };
  m_sessionFailureShown = false;
  m_session = std::make_unique<records::SessionRecorder>(std::move(options));
  if (m_session->Stopped()) OnRecordingStopped(0, 0);
}

LRESULT CNibpDlg::OnRecordingStopped(WPARAM /*wParam*/, LPARAM /*lParam*/) {
  if (!m_session || !m_session->Stopped() || m_sessionFailureShown) return 0;
  m_sessionFailureShown = true;
  Log(m_listEvent, records::Tag::kEvent, "Recording stopped: " + m_session->Failure());
  return 0;
}

void CNibpDlg::OnRecordSession() {
  m_bRecordSession = m_bRecordSession == 1 ? 0 : 1;
  CheckMenuItem(IDM_RECORD_SESSION, m_bRecordSession == 1 ? MF_CHECKED : MF_UNCHECKED);
  if (m_bRecordSession == 1) {
    StartRecording();
  } else {
    m_session.reset();
  }
  // A choice that cannot be kept still holds for this run.
  (void)records::SaveRecordSession(m_configFolder, m_bRecordSession == 1);
}

void CNibpDlg::OnOpenSessionsFolder() {
  // The folder may not exist yet when recording has been off since the first start.
  (void)records::MakeFolders(m_sessionsFolder);
  if (!Ui().OpenFolder(m_sessionsFolder)) {
    AfxMessageBox("Cannot open " + m_sessionsFolder, MB_OK | MB_TEXTSELECTABLE);
  }
}

void CNibpDlg::OnFetchResult() {
  m_bFetchResult = m_bFetchResult == 1 ? 0 : 1;
  CheckMenuItem(IDM_FETCH_RESULT, m_bFetchResult == 1 ? MF_CHECKED : MF_UNCHECKED);
  // A choice that cannot be kept still holds for this run.
  (void)records::SaveChoice(m_configFolder, "fetch_result", m_bFetchResult == 1);
}

void CNibpDlg::OnHidePollLines() {
  m_bHidePollLines = m_bHidePollLines == 1 ? 0 : 1;
  CheckMenuItem(ID_EVENT_HIDE_POLL, m_bHidePollLines == 1 ? MF_CHECKED : MF_UNCHECKED);
}

// Through the link like any command: the raw log shows the frame, the event log its length.
void CNibpDlg::OnSendBytes() {
  if (m_views == nullptr) return;
  if (const auto bytes = m_views->RunSendBytes(GetWindow())) (void)m_link.SendBytes(*bytes);
}
