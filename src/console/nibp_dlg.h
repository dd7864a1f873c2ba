#pragma once
// The console window: port selection, commands to the module, the two logs, and the receive
// path from the serial reader to the decoded reply lines.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "commands/commands.h"
#include "console/bench_watch.h"
#include "console/checks_run.h"
#include "console/views.h"
#include "feed/event_feed.h"
#include "framework/dialog.h"
#include "link/link.h"
#include "ports/ports.h"
#include "protocol/frames.h"
#include "protocol/reply.h"
#include "records/record_format.h"
#include "records/session.h"
#include "serial/comm.h"

inline constexpr UINT_PTR TIMER_PRESSURE_POLL = 0;
inline constexpr UINT_PTR TIMER_REPLY_DISPATCH = 1;
// Runs while the port is lost: each tick tries to open the same device again.
inline constexpr UINT_PTR TIMER_REOPEN = 2;
// Runs while a command waits for its reply: each tick asks whether the module went silent.
inline constexpr UINT_PTR TIMER_SILENCE = 3;
inline constexpr UINT kPressurePollMs = 250;
inline constexpr UINT kSilenceTickMs = 250;
inline constexpr UINT kReplyDispatchMs = modlink::kDispatchMs;
inline constexpr UINT kReopenMs = modlink::kReopenMs;
// How long CLOSE during a check waits for its vent to be on the line (5 bytes take 5 ms).
inline constexpr int kVentDrainMs = 200;
// Sent by the session writer thread once when recording stopped on an error.
inline constexpr UINT WM_RECORDING_STOPPED = WM_USER + 3;

// The window runs the module link on its members and its timers, and shows the link's events.
class CNibpDlg : public CDialog,
                 private modlink::TimerHost,
                 private modlink::EventSink,
                 private console::ChecksHost {
 public:
  explicit CNibpDlg(fw::Backend& ui, CDialog* parent = nullptr);
  // Tests hand in a CComm on a replaced OS layer.
  CNibpDlg(fw::Backend& ui, std::shared_ptr<serial::Platform> platform, CDialog* parent = nullptr);
  ~CNibpDlg() override;

  // State shared by the handlers, in the order the window declares it. The reply assembler's
  // counters, ring, frame buffer and queue live in m_rx.
  protocol::ReplyReceiver m_rx;
  uint8_t m_nSelPort = 0;
  CComm m_comm;
  protocol::TxBuf m_txBuf{};
  uint32_t m_nInflate = 0;
  std::string m_strTxLine;
  CListBox m_listEvent;
  CListBox m_listRaw;
  CSpinButtonCtrl m_spinInflate;
  CComboBox m_cbPort;
  std::string m_strStatus;
  std::string m_strInflate;
  BOOL m_bPump = 0;
  BOOL m_bControlValve = 0;
  BOOL m_bDumpValve = 0;
  BOOL m_bAutoPressure = 0;
  std::string m_strPressure;
  std::string m_strRxHex;  // shown copies of m_rx's diagnostic texts
  std::string m_strRxCheck;
  HICON m_hIcon = nullptr;
  // The raw log also shows frames with a bad checksum and bytes dropped between frames.
  BOOL m_bShowBadFrames = 0;
  // The wall-clock time given to each log line and status change; tests replace it.
  std::function<int64_t()> m_clock = records::NowMs;
  // The session file, on unless the user turned it off at an earlier start.
  BOOL m_bRecordSession = 1;
  // Get BP Data goes out by itself when a measurement has ended; off unless the user turned it on.
  BOOL m_bFetchResult = 0;
  // The event log leaves out the poll's lines and their cuff pressures (the records keep them).
  BOOL m_bHidePollLines = 0;
  // Where sessions and settings go; tests point them elsewhere before Create.
  std::string m_sessionsFolder = records::SessionsFolder();
  std::string m_configFolder = records::ConfigFolder();
  records::WriteFn m_sessionWrite = records::SystemWrite();
  // Cuff pressures, markers and results from the link's events, for the two views below.
  feed::EventFeed m_feed;
  // The chart, results and Ports windows, from the program that runs the console; none without.
  console::Views* m_views = nullptr;
  std::unique_ptr<console::View> m_chartView;  // made when first asked for, closed with the window
  std::unique_ptr<console::View> m_resultsView;
  std::unique_ptr<console::View> m_checksView;
  // Where the Ports window finds this machine's serial devices; tests feed their own.
  std::function<std::unique_ptr<ports::DeviceSource>()> m_makeDeviceSource = ports::MakeUdevSource;

  // Handlers, public so that tests may call them as the window would.
  void OnSelchangePort();
  void OnEditchangePort();
  void OnPorts();
  void OnPortOpen();
  void OnPortClose();
  void OnKillfocusInflate();
  LRESULT OnDeltaposInflateSpin(const NMUPDOWN& nm);
  void OnSetPressure();
  void OnStartAdult();
  void OnStartNeonate();
  void OnStartPediatric();
  void OnAbortBp();
  void OnGetPressure();
  void OnGetBpData();
  void OnPump();
  void OnControlValve();
  void OnDumpValve();
  void OnClearDisplay();
  void OnAutoPressureDisplay();
  LRESULT OnCommReceive(WPARAM wParam, LPARAM lParam);
  // A frame with a bad checksum (kBad) or bytes dropped between frames (kDropped), in arrival
  // order, as the raw-log line received.
  void OnDiscarded(records::Tag tag, const std::string& rawLine);
  void OnShowBadFrames();
  void OnSaveRawLog();
  void OnSaveEventLog();
  void OnRecordSession();
  void OnOpenSessionsFolder();
  void OnServiceChecks();
  void OnFetchResult();
  void OnHidePollLines();
  void OnSendBytes();
  LRESULT OnRecordingStopped(WPARAM wParam, LPARAM lParam);
  // The session being recorded; null while recording is off.
  [[nodiscard]] records::SessionRecorder* Session() const { return m_session.get(); }
  LRESULT OnCommLost(WPARAM wParam, LPARAM lParam);
  void OnTimer(UINT_PTR id) override;
  void OnSysCommand(UINT id, LPARAM param) override;
  void OnPaint() override;
  HCURSOR OnQueryDragIcon() override;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  // Enter and Esc never end the console; the close box does.
  void OnOK() override;
  void OnCancel() override;
  void OnClose() override;

 private:
  void MapHandlers();
  // Sends through the link, which reports what happened as events.
  void Send(const commands::Request& request);
  // modlink::TimerHost: the link's timers are the window's.
  void StartTimer(modlink::Timer timer, uint32_t periodMs) override;
  void StopTimer(modlink::Timer timer) override;
  bool WatchFd(modlink::Timer timer, int fd) override;
  // modlink::EventSink: the logs, the status line and the session file.
  void OnEvent(const modlink::Event& event) override;
  // console::ChecksHost: a run of service checks drives the module through the link.
  [[nodiscard]] bool ChecksPortOpen() const override;
  [[nodiscard]] bool ChecksMeasuring() const override { return m_bench.Measuring(); }
  [[nodiscard]] std::string ChecksPort() const override;
  [[nodiscard]] std::string ChecksDevice() const override;
  [[nodiscard]] int64_t ChecksNowMs() const override { return m_clock(); }
  SendResult ChecksSend(const commands::Request& request) override;
  void SetChecksSink(modlink::EventSink* sink) override;
  void ChecksMarker(int64_t ms, const std::string& label) override;
  void ChecksLog(const std::string& line) override;
  void ChecksVentWhenBack() override;
  // Sends the vent a stopped check could not send, once that port takes commands again.
  void VentIfDue();
  // The command buttons and pneumatics boxes are the user's unless checks run.
  void EnableCommands(bool enable);
  // Copies the receive core's diagnostic texts for the next UpdateData(FALSE).
  void ShowRxTexts();
  // Every log line passes here: stamped with m_clock, added, made current and recorded under
  // `tag`. Returns the stamp.
  int64_t Log(CListBox& list, records::Tag tag, std::string_view line);
  // Shows one event in the logs and the status line; returns the stamp of its first event line
  // (0 for none), the moment the chart and the results give it.
  int64_t ShowEvent(const modlink::Event& event);
  // Every change of the status line passes here; the caller then shows it.
  void SetStatus(const std::string& text);
  // The port box's tooltip names the device its text leads to.
  void UpdatePortTip();
  void Record(int64_t ms, records::Tag tag, const std::string& text);
  void StartRecording();
  void SaveLog(CListBox& list, const char* stem);

  std::unique_ptr<records::SessionRecorder> m_session;
  bool m_sessionFailureShown = false;
  bool m_pressureShown = false;  // a dispatch tick showed a cuff pressure
  modlink::EventSink* m_checksSink = nullptr;
  // Silence, a measurement's end, an overpressure: told once in the event log.
  console::BenchWatch m_bench;
  bool m_silenceTicking = false;
  bool m_fetchDue = false;   // a measurement ended: Get BP Data goes after the tick
  int m_ventPort = 0;        // the port a check stopped on without its vent going out; 0: none
  bool m_polling = false;    // the poll's own send is on its way
  bool m_pollQuiet = false;  // the poll said once that the port is closed
  // Tells what the bench watch noticed about `event` (or a tick, for null) at `nowMs`.
  void Watch(const modlink::Event* event, int64_t nowMs);
  // The pressure line greyed while the module is silent or the port is closed or lost.
  void ShowSilence();
  // Works on m_comm, m_rx, m_txBuf and m_strTxLine; last, so that it goes first.
  modlink::Link m_link{{m_comm, m_rx, m_txBuf, m_strTxLine}, *this, nullptr};
};
