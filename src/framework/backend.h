#pragma once
// What a window system must provide for one dialog, and what it reports back. The Qt backend
// gives the real window; the headless backend keeps everything in memory for tests.

#include <memory>
#include <string>
#include <string_view>

#include "framework/afx.h"
#include "res/templates.h"

namespace chart {
class PressureSeries;
}
namespace results {
class BpResults;
}

namespace fw {

struct Icon;

// A non-modal window of its own over a store that the console fills; it reads the store on the
// user-interface thread and follows its changes itself. Destroying the view closes its window.
class View {
 public:
  virtual ~View() = default;
  // Shows the window (again, after the user closed it) and raises it.
  virtual void Show() = 0;
};

// Implemented by CDialog; a backend calls these on the user-interface thread only.
class WindowEvents {
 public:
  virtual ~WindowEvents() = default;
  // The window and its controls exist (init items added): run the dialog's initialisation.
  // The result says whether the backend puts the focus on the first tab stop.
  virtual BOOL OnBackendInit() = 0;
  // BN_CLICKED, CBN_SELCHANGE, CBN_EDITCHANGE, LBN_SELCHANGE, EN_KILLFOCUS from a control;
  // TTN_NEEDTEXT from a control that has a tip.
  virtual void OnBackendCommand(int id, UINT code) = 0;
  // UDN_DELTAPOS from an up-down control; a nonzero result forbids the step.
  virtual LRESULT OnBackendDeltaPos(int id, const NMUPDOWN& nm) = 0;
  virtual void OnBackendTimer(UINT_PTR id) = 0;
  virtual void OnBackendSysCommand(UINT id, LPARAM param) = 0;
  virtual void OnBackendPaint() = 0;
  // Enter outside a push button, and Esc or the close box.
  virtual void OnBackendOk() = 0;
  virtual void OnBackendCancel() = 0;
  // Messages queued from other threads are waiting: deliver them now.
  virtual void OnBackendPosted() = 0;
};

// One dialog's window. Control operations address controls by template id.
class Window {
 public:
  virtual ~Window() = default;

  // Creates the window and its controls, calls OnBackendInit, shows it and runs until End;
  // returns the end code. -1 when the window cannot be created.
  virtual INT_PTR RunModal() = 0;
  // Creates and initialises the window without a loop of its own (tests and nested use).
  virtual bool Create() = 0;
  // Ends the modal loop with `code` and destroys the window and its timers.
  virtual void End(INT_PTR code) = 0;
  [[nodiscard]] virtual bool IsCreated() const = 0;

  virtual void SetText(int id, std::string_view text) = 0;
  [[nodiscard]] virtual std::string GetText(int id) const = 0;
  [[nodiscard]] virtual int GetCheck(int id) const = 0;
  virtual void SetCheck(int id, int state) = 0;
  virtual void Enable(int id, bool enable) = 0;
  [[nodiscard]] virtual bool IsEnabled(int id) const = 0;
  // Moves the focus to the control; an edit's whole text is then selected.
  virtual void FocusControl(int id) = 0;

  // List box. Add returns the new line's index.
  virtual int ListAdd(int id, std::string_view line) = 0;
  [[nodiscard]] virtual int ListCount(int id) const = 0;
  // Makes line `index` current and scrolls it into view. Lines are highlighted only in a list
  // whose template allows selection.
  virtual int ListSetCurSel(int id, int index) = 0;
  virtual void ListReset(int id) = 0;
  // The line the user chose in a list whose lines can be selected; -1 when none.
  [[nodiscard]] virtual int ListGetCurSel(int id) const = 0;

  virtual int ComboAdd(int id, std::string_view item) = 0;
  virtual int ComboSetCurSel(int id, int index) = 0;
  [[nodiscard]] virtual int ComboGetCurSel(int id) const = 0;

  virtual void SpinSetRange(int id, int lower, int upper) = 0;

  // The control's tooltip, which screen readers read as its description. From then on the
  // control reports TTN_NEEDTEXT before its tip is shown and when it takes the focus.
  virtual void SetTip(int id, std::string_view text) = 0;

  // Starts timer `id` or restarts its period.
  virtual bool SetTimer(UINT_PTR id, UINT elapseMs) = 0;
  virtual bool KillTimer(UINT_PTR id) = 0;

  // Modal message box owned by this window; returns the button pressed.
  virtual int MessageBox(std::string_view text, std::string_view title, UINT type) = 0;

  [[nodiscard]] virtual bool HasSystemMenu() const = 0;
  virtual void AppendSystemMenu(UINT flags, UINT id, std::string_view text) = 0;

  virtual void SetIcon(HICON icon, bool big) = 0;
  [[nodiscard]] virtual bool IsIconic() const = 0;
  [[nodiscard]] virtual CRect GetClientRect() const = 0;
  // Only while OnBackendPaint runs.
  virtual void EraseIconBackground() = 0;
  virtual void DrawIcon(int x, int y, HICON icon) = 0;

  // Thread-safe: asks the user-interface thread to call OnBackendPosted soon.
  virtual void WakeForPosted() = 0;
};

// The window system as a whole.
class Backend {
 public:
  virtual ~Backend() = default;
  // `parent` may be null.
  virtual std::unique_ptr<Window> CreateWindow(const res::DialogTemplate& tmpl, WindowEvents& events,
                                               Window* parent) = 0;
  // Message box without an owner window.
  virtual int MessageBox(std::string_view text, std::string_view title, UINT type) = 0;
  [[nodiscard]] virtual int GetSystemMetrics(int index) const = 0;
  // The program file's base name: the title of every message box.
  [[nodiscard]] virtual std::string AppName() const = 0;
  // The "Pressure Chart" and "Results" windows; the stores outlive the views.
  virtual std::unique_ptr<View> CreatePressureChart(chart::PressureSeries& series,
                                                    Window* parent) = 0;
  virtual std::unique_ptr<View> CreateResults(results::BpResults& rows, Window* parent) = 0;
};

}  // namespace fw
