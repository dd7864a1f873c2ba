#pragma once
// Dialog base with data exchange, controls by id, timers, message boxes, system menu, icons and
// the messages from other threads. Written against fw::Backend, so the same dialog
// runs in the real window and in the headless one.

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "framework/afx.h"
#include "framework/backend.h"
#include "serial/notify_target.h"

class CDialog;

// A control of a dialog, found by id. Also the base of the typed control objects.
class CWnd {
 public:
  CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;
  virtual ~CWnd() = default;

  BOOL EnableWindow(BOOL enable = TRUE);
  [[nodiscard]] BOOL IsWindowEnabled() const;
  void SetWindowText(std::string_view text);
  [[nodiscard]] std::string GetWindowText() const;
  // The tooltip, also the control's accessible description.
  void SetTip(std::string_view text);
  [[nodiscard]] int GetDlgCtrlID() const { return id_; }
  [[nodiscard]] bool IsAttached() const { return window_ != nullptr; }

  // Attaches to control `id` of `window`; detaching passes a null window.
  void Attach(fw::Window* window, int id);

 protected:
  [[nodiscard]] fw::Window* W() const { return window_; }

 private:
  fw::Window* window_ = nullptr;
  int id_ = 0;
};

class CListBox : public CWnd {
 public:
  int AddString(std::string_view line, int64_t timeMs = 0);
  [[nodiscard]] int GetCount() const;
  [[nodiscard]] std::string GetText(int index) const;
  [[nodiscard]] int64_t GetTime(int index) const;
  int SetCurSel(int index);
  // Lists whose template allows selection: the chosen line, -1 when none.
  [[nodiscard]] int GetCurSel() const;
  void ResetContent();
  // An item of the list's context menu, after its own.
  void AppendMenu(UINT flags, UINT itemId, std::string_view text);
};

class CComboBox : public CWnd {
 public:
  int AddString(std::string_view item);
  int SetCurSel(int index);
  [[nodiscard]] int GetCurSel() const;
};

class CSpinButtonCtrl : public CWnd {
 public:
  void SetRange(int lower, int upper);
};

class CMenu {
 public:
  explicit CMenu(fw::Window* window) : window_(window) {}
  BOOL AppendMenu(UINT flags, UINT id = 0, std::string_view text = {});
  // MF_CHECKED or MF_UNCHECKED; makes the item a check item.
  void CheckMenuItem(UINT id, UINT check);

 private:
  fw::Window* window_;
};

class CDataExchange {
 public:
  CDataExchange(CDialog* dlg, BOOL save) : m_pDlgWnd(dlg), m_bSaveAndValidate(save) {}
  CDialog* m_pDlgWnd;
  BOOL m_bSaveAndValidate;
};

void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
void DDX_Text(CDataExchange* pDX, int id, std::string& value);
void DDX_Check(CDataExchange* pDX, int id, BOOL& value);

// Loads a string resource; false (and `out` untouched) when it is missing.
BOOL LoadResourceString(std::string& out, int id);

class CDialog : public fw::WindowEvents, public serial::NotifyTarget {
 public:
  CDialog(fw::Backend& ui, int templateId, CDialog* parent = nullptr);
  ~CDialog() override;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Shows the dialog modally; returns the end code, -1 when the window cannot be created.
  virtual INT_PTR DoModal();
  // Creates and initialises the window without running a loop (modeless use, tests).
  BOOL Create();
  void EndDialog(int result);

  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
  CWnd* GetDlgItem(int id);
  // The focus to control `id`, its text selected when it is an edit.
  void GotoDlgCtrl(int id);

  UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs, void* proc = nullptr);
  BOOL KillTimer(UINT_PTR id);
  // Timer `id` is reported also when `fd` is readable; -1 stops that. False: not supported.
  bool WatchFd(UINT_PTR id, int fd);

  // Modal box titled with the application's name; without an icon style it shows the
  // exclamation icon.
  int AfxMessageBox(std::string_view text, UINT type = MB_OK);

  CMenu* GetSystemMenu(BOOL revert);
  // MF_CHECKED or MF_UNCHECKED for an item of any of the window's menus.
  void CheckMenuItem(UINT id, UINT check);
  // The id of the control with the focus, 0 for none.
  [[nodiscard]] int GetFocusId() const;
  // A file dialog for saving; empty when cancelled.
  [[nodiscard]] std::string GetSaveFileName(std::string_view title, std::string_view defaultPath);
  HICON SetIcon(HICON icon, BOOL big);
  [[nodiscard]] BOOL IsIconic() const;
  void GetClientRect(CRect* rect) const;
  [[nodiscard]] int GetSystemMetrics(int index) const;
  LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);

  [[nodiscard]] fw::Window* GetWindow() const { return window_.get(); }
  [[nodiscard]] fw::Backend& Ui() const { return ui_; }
  [[nodiscard]] bool IsWindowCreated() const { return window_ && window_->IsCreated(); }

  // Any thread: queues msg for the window's handler and blocks until it has returned (true).
  // Returns false at once when the window is gone, or as soon as `stop` is requested while the
  // message still waits; such a message stays queued and its handler still runs later.
  [[nodiscard]] bool SendMessageSync(uint32_t msg, uintptr_t wParam, intptr_t lParam,
                                     std::stop_token stop);
  // serial::NotifyTarget, any thread: queued for the handler, without waiting for it.
  void PostNotify(uint32_t msg, uintptr_t wParam) override;

 protected:
  virtual void DoDataExchange(CDataExchange* /*pDX*/) {}
  // Default: UpdateData(FALSE); TRUE puts the focus on the first tab stop.
  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  // The close box; default: OnCancel.
  virtual void OnClose();
  virtual void OnSysCommand(UINT id, LPARAM param);
  virtual void OnPaint() {}
  virtual HCURSOR OnQueryDragIcon() { return nullptr; }
  virtual void OnTimer(UINT_PTR /*id*/) {}

  // The message map: each control notification or window message to its handler. Dialogs
  // register their routes once, in their constructor.
  void MapCommand(int id, UINT code, std::function<void()> handler);
  void MapDeltaPos(int id, std::function<LRESULT(const NMUPDOWN&)> handler);
  void MapMessage(UINT msg, std::function<LRESULT(WPARAM, LPARAM)> handler);

 private:
  // fw::WindowEvents
  BOOL OnBackendInit() override;
  void OnBackendCommand(int id, UINT code) override;
  LRESULT OnBackendDeltaPos(int id, const NMUPDOWN& nm) override;
  void OnBackendTimer(UINT_PTR id) override;
  void OnBackendSysCommand(UINT id, LPARAM param) override;
  void OnBackendPaint() override;
  void OnBackendOk() override;
  void OnBackendCancel() override;
  void OnBackendClose() override;
  void OnBackendPosted() override;

  bool MakeWindow();
  void DestroyWindow();

  struct Posted {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    bool done = false;
  };

  fw::Backend& ui_;
  int templateId_;
  CDialog* parent_;
  std::unique_ptr<fw::Window> window_;
  std::map<int, std::unique_ptr<CWnd>> items_;
  std::unique_ptr<CMenu> sysMenu_;
  std::map<std::pair<int, UINT>, std::function<void()>> commands_;
  std::map<int, std::function<LRESULT(const NMUPDOWN&)>> deltaPos_;
  std::map<UINT, std::function<LRESULT(WPARAM, LPARAM)>> messages_;

  // Messages from other threads, guarded by postMu_.
  std::mutex postMu_;
  std::condition_variable_any postCv_;
  std::deque<std::shared_ptr<Posted>> posted_;
  bool delivering_ = false;
  bool accepting_ = false;  // the window exists and takes messages
};

// The application: names the message boxes and runs the start-up sequence.
class CWinApp {
 public:
  explicit CWinApp(fw::Backend& ui) : ui_(ui) {}
  virtual ~CWinApp() = default;
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual BOOL InitInstance() { return TRUE; }
  [[nodiscard]] fw::Backend& Ui() const { return ui_; }

  CDialog* m_pMainWnd = nullptr;

 private:
  fw::Backend& ui_;
};

// Start-up options that have no counterpart here.
inline void AfxEnableControlContainer() {}
inline void Enable3dControlsStatic() {}
