#pragma once
// One dialog as a Qt window, built from its template. Tests and tools reach the widgets
// through the accessors at the end.

#include <QBasicTimer>
#include <QFont>
#include <QPointer>
#include <QSize>
#include <QSocketNotifier>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/backend.h"

class QCheckBox;
class QComboBox;
class QDialog;
class QEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QObject;
class QPainter;
class QPushButton;
class QRect;
class QWidget;

namespace fw::qt {

class DialogWidget;
class LogModel;
class LogView;
class UpDown;

class QtWindow final : public Window {
 public:
  QtWindow(const res::DialogTemplate& tmpl, WindowEvents& events, QtWindow* owner);
  ~QtWindow() override;
  QtWindow(const QtWindow&) = delete;
  QtWindow& operator=(const QtWindow&) = delete;

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
  void ListAppendMenu(int id, UINT flags, UINT itemId, std::string_view text) override;
  int ComboAdd(int id, std::string_view item) override;
  int ComboSetCurSel(int id, int index) override;
  [[nodiscard]] int ComboGetCurSel(int id) const override;
  [[nodiscard]] int ListGetCurSel(int id) const override;
  void SpinSetRange(int id, int lower, int upper) override;
  void SetTip(int id, std::string_view text) override;
  bool SetTimer(UINT_PTR id, UINT elapseMs) override;
  bool KillTimer(UINT_PTR id) override;
  bool WatchFd(UINT_PTR id, int fd) override;
  int MessageBox(std::string_view text, std::string_view title, UINT type) override;
  [[nodiscard]] bool HasSystemMenu() const override;
  void AppendSystemMenu(UINT flags, UINT id, std::string_view text) override;
  void CheckMenuItem(UINT itemId, bool checked) override;
  [[nodiscard]] int FocusedId() const override;
  [[nodiscard]] std::string SaveFileName(std::string_view title,
                                         std::string_view defaultPath) override;
  void SetIcon(HICON icon, bool big) override;
  [[nodiscard]] bool IsIconic() const override;
  [[nodiscard]] CRect GetClientRect() const override;
  void EraseIconBackground() override;
  void DrawIcon(int x, int y, HICON icon) override;
  void WakeForPosted() override;

  // ---- the widgets, for tests and tools ----
  [[nodiscard]] QDialog* Dialog() const;
  // Null for unknown ids and for controls without one.
  [[nodiscard]] QWidget* Control(int id) const;
  // Every control in template order, those without an id included.
  [[nodiscard]] std::vector<QWidget*> Controls() const;
  [[nodiscard]] const LogModel* ListModel(int id) const;
  [[nodiscard]] const LogView* ListView(int id) const;
  [[nodiscard]] QMenu* SystemMenu() const { return sysMenu_.get(); }
  // A list's context menu; null for other controls.
  [[nodiscard]] QMenu* ListMenu(int id) const;
  [[nodiscard]] bool TimerRunning(UINT_PTR id) const {
    auto it = timers_.find(id);
    return it != timers_.end() && it->second.isActive();
  }
  [[nodiscard]] bool Ended() const { return ended_; }
  [[nodiscard]] INT_PTR EndCode() const { return endCode_; }
  // Average character width and height of the dialog's font, in pixels.
  [[nodiscard]] QSize BaseUnits() const { return base_; }
  [[nodiscard]] const QFont& DialogFont() const { return font_; }

 private:
  friend class DialogWidget;

  struct Ctl {
    const res::Control* tmpl = nullptr;
    QWidget* widget = nullptr;  // owned by the dialog widget
    QLineEdit* edit = nullptr;
    QComboBox* combo = nullptr;
    QCheckBox* check = nullptr;
    QLabel* label = nullptr;
    QPushButton* button = nullptr;
    LogView* list = nullptr;
    LogModel* model = nullptr;
    QListWidget* pick = nullptr;  // a list whose lines the user selects
    bool tipWatched = false;      // reports TTN_NEEDTEXT
    QMenu* menu = nullptr;        // list only, owned by the view
    UpDown* upDown = nullptr;
    QLineEdit* buddy = nullptr;  // up-down only
    int lower = 100, upper = 0, pos = 0;
  };

  void Build();
  // A function per kind of control; each places its widget and fills its part of `ctl`.
  QWidget* MakeControl(const res::Control& c, Ctl& ctl, Ctl* previous);
  QWidget* MakeComboBox(const res::Control& c, Ctl& ctl, const QRect& r);
  QWidget* MakePushButton(const res::Control& c, Ctl& ctl, const QRect& r);
  QWidget* MakeCheckBox(const res::Control& c, Ctl& ctl, const QRect& r);
  QWidget* MakeStatic(const res::Control& c, Ctl& ctl, const QRect& r);
  QWidget* MakeGroupBox(const res::Control& c, const QRect& r);
  QWidget* MakeEdit(const res::Control& c, Ctl& ctl, const QRect& r);
  QWidget* MakeUpDown(const res::Control& c, Ctl& ctl, Ctl* previous, const QRect& r);
  QWidget* MakeListBox(const res::Control& c, Ctl& ctl, const QRect& r);
  QWidget* MakeIcon(const res::Control& c, const QRect& r);
  [[nodiscard]] QRect ToPixels(int x, int y, int w, int h) const;
  void PlaceWindow();
  // Moves and sizes the controls that follow a resizable window's size.
  void FollowSize();
  void FocusFirstTabStop();
  [[nodiscard]] Ctl* Find(int id);
  [[nodiscard]] const Ctl* Find(int id) const;
  // User input is reported only while the window is up and the dialog has not ended.
  [[nodiscard]] bool Reporting() const { return created_ && !ended_ && !dying_; }
  void Click(const Ctl& ctl);
  void Step(Ctl& ctl, int direction);
  void UpdateIcon();

  // Called by the dialog widget.
  bool FilterEvent(QObject* watched, QEvent* event);
  void OnEnter();
  void OnOk();
  void OnCancel();
  void OnClose();
  void OnTimerEvent(int qtTimerId);
  void OnPaint(QPainter& painter);
  void ShowSystemMenu(const QPoint& globalPos);
  void ShowListMenu(const Ctl& ctl, const QPoint& globalPos);

  const res::DialogTemplate& tmpl_;
  WindowEvents& events_;
  QtWindow* owner_;
  std::unique_ptr<DialogWidget> dialog_;
  std::unique_ptr<QMenu> sysMenu_;
  std::map<int, Ctl> ctls_;           // by id
  std::vector<QWidget*> allWidgets_;  // template order
  std::map<UINT_PTR, QBasicTimer> timers_;
  std::map<UINT_PTR, std::unique_ptr<QSocketNotifier>> watches_;
  QFont font_;
  QSize base_;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  QPainter* painter_ = nullptr;  // only while OnBackendPaint runs
  bool created_ = false;
  bool ended_ = false;
  bool dying_ = false;
  bool settingList_ = false;  // a selection made by the dialog, not the user
  INT_PTR endCode_ = 0;
};

}  // namespace fw::qt
