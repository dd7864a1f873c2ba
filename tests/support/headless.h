#pragma once
// A window system kept in memory: tests drive it as a user would (click, type, move the focus,
// spin, press keys, fire timers) and read what the user would see. Message boxes and modal
// dialogs are recorded instead of blocking.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "framework/backend.h"

namespace fw::headless {

struct MessageBoxRecord {
  std::string text;
  std::string title;
  UINT type = 0;
};

struct SysMenuItem {
  UINT flags = 0;
  UINT id = 0;
  std::string text;
  bool checkable = false;
  bool checked = false;
};

class HeadlessBackend;

class HeadlessWindow final : public Window {
 public:
  HeadlessWindow(HeadlessBackend& backend, const res::DialogTemplate& tmpl, WindowEvents& events);
  ~HeadlessWindow() override;

  // ---- fw::Window ----
  INT_PTR RunModal() override;
  bool Create() override;
  void End(INT_PTR code) override;
  [[nodiscard]] bool IsCreated() const override { return created_; }
  void SetText(int id, std::string_view text) override;
  [[nodiscard]] std::string GetText(int id) const override;
  [[nodiscard]] int GetCheck(int id) const override;
  void SetCheck(int id, int state) override;
  void Enable(int id, bool enable) override;
  [[nodiscard]] bool IsEnabled(int id) const override;
  void FocusControl(int id) override;
  int ListAdd(int id, std::string_view line, int64_t timeMs) override;
  [[nodiscard]] int ListCount(int id) const override;
  [[nodiscard]] std::string ListText(int id, int index) const override;
  [[nodiscard]] int64_t ListTime(int id, int index) const override;
  int ListSetCurSel(int id, int index) override;
  void ListReset(int id) override;
  [[nodiscard]] int ListGetCurSel(int id) const override { return CurSel(id); }
  void ListAppendMenu(int id, UINT flags, UINT itemId, std::string_view text) override;
  int ComboAdd(int id, std::string_view item) override;
  int ComboSetCurSel(int id, int index) override;
  [[nodiscard]] int ComboGetCurSel(int id) const override;
  void SpinSetRange(int id, int lower, int upper) override;
  void SetTip(int id, std::string_view text) override;
  bool SetTimer(UINT_PTR id, UINT elapseMs) override;
  bool KillTimer(UINT_PTR id) override;
  int MessageBox(std::string_view text, std::string_view title, UINT type) override;
  [[nodiscard]] bool HasSystemMenu() const override;
  void AppendSystemMenu(UINT flags, UINT id, std::string_view text) override;
  void CheckMenuItem(UINT itemId, bool checked) override;
  [[nodiscard]] int FocusedId() const override { return focus_; }
  [[nodiscard]] std::string SaveFileName(std::string_view title,
                                         std::string_view defaultPath) override;
  void SetIcon(HICON icon, bool big) override;
  [[nodiscard]] bool IsIconic() const override { return iconic_; }
  [[nodiscard]] CRect GetClientRect() const override;
  void EraseIconBackground() override { ++iconErases_; }
  void DrawIcon(int x, int y, HICON icon) override;
  void WakeForPosted() override;

  // ---- the user's actions ----
  // Moves the focus as a mouse click does, toggles a check box, then reports the click.
  void Click(int id);
  // Focuses the control (edit or combo) and replaces its text, as typing does; a combo reports
  // CBN_EDITCHANGE.
  void Type(int id, std::string_view text);
  // Moves the focus; the control that loses it reports EN_KILLFOCUS when it is an edit.
  void SetFocus(int id);
  // Rests the pointer on the control: it reports TTN_NEEDTEXT; returns the tip then shown.
  const std::string& HoverTip(int id);
  // Chooses an item from a combo's list, or a line of a list box.
  void SelectItem(int id, int index);
  // One step of an up-down control (+1 up, -1 down), asking the parent first.
  void Spin(int id, int direction);
  // Enter: clicks a focused push button, otherwise ends the dialog with OK.
  void PressEnter();
  void PressEscape();
  void CloseBox();
  // A log's own context-menu items and keys.
  void ShowTimes(int id, bool show) { C(id).showTimes = show; }
  void SelectLines(int id, int from, int to);  // also Ctrl+A with 0 and count - 1
  void CopyLines(int id);                      // Ctrl+C: the selection to the clipboard
  void ScrollAway(int id) { C(id).following = false; }
  void PressEnd(int id);  // End: follows the newest line again
  // Chooses an item the dialog appended to a list's context menu.
  void ChooseListMenuItem(int id, UINT itemId);
  // Reports a tick of a running timer; false when the timer does not run.
  bool FireTimer(UINT_PTR id);
  void SysCommand(UINT id, LPARAM param = 0);
  void SetIconic(bool iconic) { iconic_ = iconic; }
  void SetClientSize(int width, int height) { clientW_ = width, clientH_ = height; }
  void Paint();
  // Delivers messages queued from other threads; waits up to `timeout` for one to arrive.
  // True when something was delivered.
  bool PumpPosted(std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
  // A real-time event loop: delivers queued messages and fires running timers when their
  // periods come due, until `done` returns true (true) or `timeout` passes (false).
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Runs the loop for `duration`.
  void RunFor(std::chrono::milliseconds duration);

  // ---- what the user sees ----
  [[nodiscard]] const res::DialogTemplate& Template() const { return tmpl_; }
  [[nodiscard]] bool Visible(int id) const;
  [[nodiscard]] const std::vector<std::string>& Lines(int id) const;
  [[nodiscard]] int CurSel(int id) const;
  [[nodiscard]] const std::string& Tip(int id) const { return C(id).tip; }
  [[nodiscard]] const std::vector<std::string>& Items(int id) const;
  [[nodiscard]] int Focus() const { return focus_; }
  // The edit whose whole text the program selected, until the next typing; 0 for none.
  [[nodiscard]] int SelectedAll() const { return selectedAll_; }
  [[nodiscard]] const std::map<UINT_PTR, UINT>& Timers() const { return timers_; }
  [[nodiscard]] bool TimerRunning(UINT_PTR id) const { return timers_.count(id) != 0; }
  // How often timer `id` was started or restarted.
  [[nodiscard]] size_t TimerSets(UINT_PTR id) const {
    const auto it = timerSets_.find(id);
    return it == timerSets_.end() ? 0 : it->second;
  }
  [[nodiscard]] const std::vector<SysMenuItem>& SystemMenu() const { return sysMenu_; }
  [[nodiscard]] const std::vector<SysMenuItem>& ListMenu(int id) const { return C(id).menu; }
  // A line as the list shows it, its time in front while times are shown.
  [[nodiscard]] std::string Shown(int id, int index) const;
  [[nodiscard]] bool Following(int id) const { return C(id).following; }
  [[nodiscard]] HICON BigIcon() const { return bigIcon_; }
  [[nodiscard]] HICON SmallIcon() const { return smallIcon_; }
  [[nodiscard]] bool Ended() const { return ended_; }
  [[nodiscard]] INT_PTR EndCode() const { return endCode_; }
  struct DrawnIcon {
    int x, y;
    HICON icon;
  };
  [[nodiscard]] const std::vector<DrawnIcon>& DrawnIcons() const { return drawn_; }
  [[nodiscard]] int IconErases() const { return iconErases_; }
  [[nodiscard]] std::pair<int, int> SpinRange(int id) const;

 private:
  struct Ctl {
    const res::Control* tmpl = nullptr;
    std::string text;
    int check = 0;
    bool enabled = true;
    bool visible = true;
    std::vector<std::string> lines;  // list box lines or combo items
    int curSel = -1;
    int lower = 100, upper = 0, pos = 0;  // up-down
    std::string tip;
    std::vector<int64_t> times;     // list box
    std::vector<SysMenuItem> menu;  // list box
    int selFrom = -1, selTo = -1;   // list box
    bool showTimes = false;
    bool following = true;
  };
  Ctl& C(int id);
  [[nodiscard]] const Ctl& C(int id) const;
  [[nodiscard]] bool TakesFocusOnClick(const Ctl& c) const;
  [[nodiscard]] int BuddyOf(int spinId) const;

  HeadlessBackend& backend_;
  const res::DialogTemplate& tmpl_;
  WindowEvents& events_;
  std::map<int, Ctl> ctls_;
  std::map<UINT_PTR, UINT> timers_;
  std::map<UINT_PTR, std::chrono::steady_clock::time_point> due_;  // next tick in RunUntil
  std::vector<SysMenuItem> sysMenu_;
  std::vector<DrawnIcon> drawn_;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  bool created_ = false;
  bool ended_ = false;
  INT_PTR endCode_ = 0;
  int focus_ = 0;
  std::map<UINT_PTR, size_t> timerSets_;
  int selectedAll_ = 0;
  bool iconic_ = false;
  int clientW_ = 0, clientH_ = 0;
  int iconErases_ = 0;

  std::mutex wakeMu_;
  std::condition_variable wakeCv_;
  bool woken_ = false;
};

class HeadlessBackend final : public Backend {
 public:
  explicit HeadlessBackend(std::string appName = "QUIRAB_NIBP") : appName_(std::move(appName)) {}

  std::unique_ptr<Window> CreateWindow(const res::DialogTemplate& tmpl, WindowEvents& events,
                                       Window* parent) override;
  int MessageBox(std::string_view text, std::string_view title, UINT type) override;
  [[nodiscard]] int GetSystemMetrics(int index) const override;
  [[nodiscard]] std::string AppName() const override { return appName_; }

  // Every message box shown, with or without an owner.
  [[nodiscard]] const std::vector<MessageBoxRecord>& MessageBoxes() const { return boxes_; }
  void ClearMessageBoxes() { boxes_.clear(); }
  // Answers the save-file dialog; without it the dialog is cancelled. Each call is recorded.
  std::function<std::string(std::string_view title, std::string_view defaultPath)> onSaveFileName;
  [[nodiscard]] const std::vector<std::string>& SaveDialogDefaults() const { return saveDefaults_; }
  bool OpenFolder(const std::string& path) override;
  [[nodiscard]] const std::vector<std::string>& OpenedFolders() const { return opened_; }
  // The clipboard, as the logs' Copy leaves it.
  std::string clipboard;
  // Called when a dialog runs modally, with its window created and initialised; the dialog ends
  // with IDCANCEL afterwards unless the hook ended it. Without a hook it ends at once.
  std::function<void(HeadlessWindow&)> onModal;
  // Templates of the dialogs run modally, in order.
  [[nodiscard]] const std::vector<int>& ModalRuns() const { return modalRuns_; }
  // The windows that exist now, oldest first.
  [[nodiscard]] const std::vector<HeadlessWindow*>& Windows() const { return windows_; }
  [[nodiscard]] HeadlessWindow* FindWindow(int templateId) const;

 private:
  friend class HeadlessWindow;
  std::string appName_;
  std::vector<MessageBoxRecord> boxes_;
  std::vector<int> modalRuns_;
  std::vector<HeadlessWindow*> windows_;
  std::vector<std::string> saveDefaults_;
  std::vector<std::string> opened_;
};

}  // namespace fw::headless
