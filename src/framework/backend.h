#pragma once
// What a window system must provide for one dialog, and what it reports back. The Qt backend
// gives the real window; the headless backend keeps everything in memory for tests.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "framework/afx.h"
#include "res/templates.h"

namespace fw {

struct Icon;

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
  // Enter outside a push button, and Esc.
  virtual void OnBackendOk() = 0;
  virtual void OnBackendCancel() = 0;
  // The close box, Alt+F4, the window manager.
  virtual void OnBackendClose() = 0;
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

  // List box of log lines, each kept with the wall-clock time it was added (ms since the epoch).
  // Add returns the new line's index. Its context menu has "Show Times", "Select All" and "Copy"
  // of its own; the user selects lines, copies them and scrolls away without the dialog's help.
  virtual int ListAdd(int id, std::string_view line, int64_t timeMs) = 0;
  [[nodiscard]] virtual int ListCount(int id) const = 0;
  [[nodiscard]] virtual std::string ListText(int id, int index) const = 0;
  [[nodiscard]] virtual int64_t ListTime(int id, int index) const = 0;
  // Makes line `index` current and scrolls it into view, while the list follows its newest
  // line: not while the user has scrolled away or selected lines. Lines are highlighted only in
  // a list whose template allows selection.
  virtual int ListSetCurSel(int id, int index) = 0;
  virtual void ListReset(int id) = 0;
  // The line the user chose in a list whose lines can be selected; -1 when none.
  [[nodiscard]] virtual int ListGetCurSel(int id) const = 0;
  // Items after the list's own in its context menu; a chosen one is reported as a command
  // (BN_CLICKED from `itemId`).
  virtual void ListAppendMenu(int id, UINT flags, UINT itemId, std::string_view text) = 0;

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
  // Reports timer `id` also whenever `fd` is readable, until called again with -1 for that id;
  // false when this backend cannot watch descriptors (the timer alone then).
  virtual bool WatchFd(UINT_PTR /*id*/, int /*fd*/) { return false; }

  // Modal message box owned by this window; returns the button pressed.
  virtual int MessageBox(std::string_view text, std::string_view title, UINT type) = 0;

  [[nodiscard]] virtual bool HasSystemMenu() const = 0;
  virtual void AppendSystemMenu(UINT flags, UINT id, std::string_view text) = 0;
  // Makes the item `itemId` of any of the window's menus a check item in that state.
  virtual void CheckMenuItem(UINT itemId, bool checked) = 0;

  // The control with the keyboard focus; 0 for none or one without an id.
  [[nodiscard]] virtual int FocusedId() const = 0;
  // A modal file dialog for saving; the path chosen, empty when the user cancels.
  [[nodiscard]] virtual std::string SaveFileName(std::string_view title,
                                                 std::string_view defaultPath) = 0;

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
  virtual std::unique_ptr<Window> CreateWindow(const res::DialogTemplate& tmpl,
                                               WindowEvents& events, Window* parent) = 0;
  // Message box without an owner window.
  virtual int MessageBox(std::string_view text, std::string_view title, UINT type) = 0;
  [[nodiscard]] virtual int GetSystemMetrics(int index) const = 0;
  // The program file's base name: the title of every message box.
  [[nodiscard]] virtual std::string AppName() const = 0;
  // Shows a folder in the desktop's file manager; false when nothing could open it.
  virtual bool OpenFolder(const std::string& path) = 0;
};

}  // namespace fw
