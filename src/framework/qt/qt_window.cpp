#include "framework/qt/qt_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QFileDialog>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QTimerEvent>
#include <QWindow>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>

#include "framework/icon.h"
#include "framework/qt/log_view.h"
#include "framework/qt/message_box.h"
#include "framework/qt/up_down.h"
#include "framework/qt/window_role.h"

namespace fw::qt {

namespace {

QString Q(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string S(const QString& s) {
  return s.toUtf8().toStdString();
}

// "&" marks an access key; "&&" is a literal ampersand.
QString WithoutAccessKeys(std::string_view caption) {
  std::string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) ++i;
    out.push_back(caption[i]);
  }
  return Q(out);
}

// Rounds half away from zero, as the platform's dialog-unit conversion does.
int MulDiv(int a, int b, int c) {
  const long long p = static_cast<long long>(a) * b;
  return static_cast<int>((p >= 0 ? p * 2 + c : p * 2 - c) / (2LL * c));
}

QImage ToImage(const fw::IconImage& img) {
  QImage out(img.size, img.size, QImage::Format_ARGB32);
  for (int y = 0; y < img.size; ++y) {
    auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < img.size; ++x) row[x] = img.argb[static_cast<size_t>(y) * img.size + x];
  }
  return out;
}

// A check box that toggles itself only when its style says so.
class CheckBox final : public QCheckBox {
 public:
  CheckBox(const QString& text, QWidget* parent, bool autoCheck)
      : QCheckBox(text, parent), autoCheck_(autoCheck) {}

 protected:
  void nextCheckState() override {
    if (autoCheck_) QCheckBox::nextCheckState();
  }

 private:
  bool autoCheck_;
};

constexpr int kSystemIconSize = 32;
constexpr UINT kMenuGrayed = 0x0001;
constexpr UINT kMenuDisabled = 0x0002;

}  // namespace

// ---- the dialog's top-level widget ----

class DialogWidget final : public QDialog {
 public:
  explicit DialogWidget(QtWindow& owner) : owner_(owner) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    return owner_.FilterEvent(watched, event) || QDialog::eventFilter(watched, event);
  }

  void keyPressEvent(QKeyEvent* e) override {
    const auto mods = e->modifiers() & ~Qt::KeypadModifier;
    const int key = e->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && mods == Qt::NoModifier) {
      owner_.OnEnter();
    } else if (key == Qt::Key_Escape && mods == Qt::NoModifier) {
      owner_.OnCancel();
    } else if (key == Qt::Key_F10 && mods == Qt::ShiftModifier) {
      owner_.ShowSystemMenu(mapToGlobal(QPoint(0, 0)));
    } else {
      QWidget::keyPressEvent(e);  // not QDialog's: it would click a default button itself
    }
  }

  // The close box, Alt+F4 and the window manager: the dialog decides.
  void closeEvent(QCloseEvent* e) override {
    e->ignore();
    owner_.OnClose();
  }

  void reject() override { owner_.OnCancel(); }
  void accept() override { owner_.OnOk(); }

  void contextMenuEvent(QContextMenuEvent* e) override { owner_.ShowSystemMenu(e->globalPos()); }

  void resizeEvent(QResizeEvent* e) override {
    QDialog::resizeEvent(e);
    owner_.FollowSize();
  }

  void timerEvent(QTimerEvent* e) override { owner_.OnTimerEvent(e->timerId()); }

  void paintEvent(QPaintEvent* e) override {
    QDialog::paintEvent(e);
    QPainter painter(this);
    owner_.OnPaint(painter);
  }

 private:
  QtWindow& owner_;
};

// ---- window ----

QtWindow::QtWindow(const res::DialogTemplate& tmpl, WindowEvents& events, QtWindow* owner)
    : tmpl_(tmpl), events_(events), owner_(owner), dialog_(std::make_unique<DialogWidget>(*this)) {
  // The program's main window is announced as a window; its boxes stay dialogs.
  if (tmpl_.style & res::kAppWindow) MarkAsWindow(*dialog_);
}

QtWindow::~QtWindow() {
  dying_ = true;
  for (auto& [id, timer] : timers_) timer.stop();
  timers_.clear();
  watches_.clear();
  sysMenu_.reset();
  dialog_.reset();
}

QDialog* QtWindow::Dialog() const {
  return dialog_.get();
}

QWidget* QtWindow::Control(int id) const {
  const Ctl* c = Find(id);
  return c ? c->widget : nullptr;
}

std::vector<QWidget*> QtWindow::Controls() const {
  return allWidgets_;
}

const LogModel* QtWindow::ListModel(int id) const {
  const Ctl* c = Find(id);
  return c ? c->model : nullptr;
}

const LogView* QtWindow::ListView(int id) const {
  const Ctl* c = Find(id);
  return c ? c->list : nullptr;
}

QMenu* QtWindow::ListMenu(int id) const {
  const Ctl* c = Find(id);
  return c ? c->menu : nullptr;
}

QtWindow::Ctl* QtWindow::Find(int id) {
  auto it = ctls_.find(id);
  return it == ctls_.end() ? nullptr : &it->second;
}

const QtWindow::Ctl* QtWindow::Find(int id) const {
  auto it = ctls_.find(id);
  return it == ctls_.end() ? nullptr : &it->second;
}

QRect QtWindow::ToPixels(int x, int y, int w, int h) const {
  return QRect(MulDiv(x, base_.width(), 4), MulDiv(y, base_.height(), 8),
               MulDiv(w, base_.width(), 4), MulDiv(h, base_.height(), 8));
}

void QtWindow::Build() {
  // The template's font first; where it is missing, a face that has Hangul and narrow Latin,
  // so that the captions fit the dialog units it yields.
  font_.setFamilies(
      {Q(tmpl_.fontName), QStringLiteral("NanumGothic"), QStringLiteral("DejaVu Sans")});
  font_.setPointSize(tmpl_.fontPoints);
  const QFontMetrics fm(font_);
  const int alphabet =
      fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  base_ = QSize(std::max(1, (alphabet / 26 + 1) / 2), std::max(1, fm.height()));

  QDialog& d = *dialog_;
  d.setFont(font_);
  d.setWindowTitle(Q(tmpl_.title));
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
  if (tmpl_.style & res::kCaption) flags |= Qt::WindowTitleHint;
  if (tmpl_.style & res::kSysMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (!(tmpl_.style & res::kCaption)) flags |= Qt::FramelessWindowHint;
  const QSize size = ToPixels(0, 0, tmpl_.w, tmpl_.h).size();
  if (tmpl_.style & res::kResizable) {
    flags |= Qt::WindowMaximizeButtonHint;
    d.setMinimumSize(size);
    d.resize(size);
  } else {
    d.setFixedSize(size);
  }
  d.setWindowFlags(flags);
  d.setSizeGripEnabled(false);

  sysMenu_ = std::make_unique<QMenu>();
  sysMenu_->setFont(font_);

  Ctl* previous = nullptr;
  QWidget* lastTab = nullptr;
  std::vector<QWidget*> groups;
  for (const auto& c : tmpl_.controls) {
    Ctl scratch;
    Ctl& ctl = c.id == IDC_STATIC ? scratch : ctls_[c.id];
    ctl.tmpl = &c;
    QWidget* w = MakeControl(c, ctl, previous);
    allWidgets_.push_back(w);
    const QString name =
        c.accessibleName.empty() ? WithoutAccessKeys(c.caption) : Q(c.accessibleName);
    w->setAccessibleName(name);
    if (c.style & res::kDisabled) w->setEnabled(false);
    if (c.style & res::kHidden) w->hide();
    if (c.kind == res::Kind::GroupBox) groups.push_back(w);
    if (w->focusPolicy() != Qt::NoFocus) {
      if (!(c.style & res::kTabStop)) {
        w->setFocusPolicy(Qt::ClickFocus);
      } else {
        if (lastTab) QWidget::setTabOrder(lastTab, w);
        lastTab = w;
      }
    }
    previous = c.id == IDC_STATIC ? nullptr : &ctl;
  }
  // Frames lie beneath what they frame and never take a click meant for it.
  for (QWidget* g : groups) {
    g->lower();
    g->setAttribute(Qt::WA_TransparentForMouseEvents);
  }
  PlaceWindow();
}

QWidget* QtWindow::MakeControl(const res::Control& c, Ctl& ctl, Ctl* previous) {
  const QRect r = ToPixels(c.x, c.y, c.w, c.h);
  QWidget* w = nullptr;
  switch (c.kind) {
    case res::Kind::ComboBox:
      w = MakeComboBox(c, ctl, r);
      break;
    case res::Kind::PushButton:
    case res::Kind::DefPushButton:
      w = MakePushButton(c, ctl, r);
      break;
    case res::Kind::CheckBox:
      w = MakeCheckBox(c, ctl, r);
      break;
    case res::Kind::Static:
      w = MakeStatic(c, ctl, r);
      break;
    case res::Kind::GroupBox:
      w = MakeGroupBox(c, r);
      break;
    case res::Kind::Edit:
      w = MakeEdit(c, ctl, r);
      break;
    case res::Kind::UpDown:
      w = MakeUpDown(c, ctl, previous, r);
      break;
    case res::Kind::ListBox:
      w = MakeListBox(c, ctl, r);
      break;
    case res::Kind::Icon:
      w = MakeIcon(c, r);
      break;
  }
  ctl.widget = w;
  return w;
}

QWidget* QtWindow::MakeComboBox(const res::Control& c, Ctl& ctl, const QRect& r) {
  QDialog* d = dialog_.get();
  auto* combo = new QComboBox(d);
  combo->setEditable((c.style & res::kDropDown) != 0);
  combo->setInsertPolicy(QComboBox::NoInsert);
  if (QLineEdit* le = combo->lineEdit()) {
    // Typed text selects nothing: neither completion nor a match on leaving the field.
    combo->setCompleter(nullptr);
    QObject::disconnect(le, &QLineEdit::editingFinished, combo, nullptr);
    QObject::disconnect(le, &QLineEdit::returnPressed, combo, nullptr);
    le->setAccessibleName(Q(c.accessibleName));
    const int id = c.id;
    QObject::connect(le, &QLineEdit::textEdited, d, [this, id] {
      if (Reporting()) events_.OnBackendCommand(id, CBN_EDITCHANGE);
    });
  }
  const int id = c.id;
  QObject::connect(combo, &QComboBox::activated, d, [this, id](int) {
    if (Reporting()) events_.OnBackendCommand(id, CBN_SELCHANGE);
  });
  // The template's height includes the dropped list; the field is as high as its font needs.
  combo->setGeometry(r.x(), r.y(), r.width(), combo->sizeHint().height());
  ctl.combo = combo;
  return combo;
}

QWidget* QtWindow::MakePushButton(const res::Control& c, Ctl& ctl, const QRect& r) {
  QDialog* d = dialog_.get();
  auto* b = new QPushButton(Q(c.caption), d);
  b->setAutoDefault(false);
  b->setDefault(c.kind == res::Kind::DefPushButton);
  const int id = c.id;
  QObject::connect(b, &QPushButton::clicked, d, [this, id] {
    if (const Ctl* self = Find(id)) Click(*self);
  });
  b->setGeometry(r);
  ctl.button = b;
  return b;
}

QWidget* QtWindow::MakeCheckBox(const res::Control& c, Ctl& ctl, const QRect& r) {
  QDialog* d = dialog_.get();
  auto* cb = new CheckBox(Q(c.caption), d, (c.style & res::kAutoCheck) != 0);
  const int id = c.id;
  // `clicked` comes after the box has toggled, so the handler reads the new state.
  QObject::connect(cb, &QCheckBox::clicked, d, [this, id] {
    if (const Ctl* self = Find(id)) Click(*self);
  });
  cb->setGeometry(r);
  ctl.check = cb;
  return cb;
}

QWidget* QtWindow::MakeStatic(const res::Control& c, Ctl& ctl, const QRect& r) {
  auto* l = new QLabel(Q(c.caption), dialog_.get());
  l->setTextFormat(Qt::PlainText);
  Qt::Alignment a = (c.style & res::kCenter) ? Qt::AlignHCenter : Qt::AlignLeft;
  a |= (c.style & res::kCenterImage) ? Qt::AlignVCenter : Qt::AlignTop;
  l->setAlignment(a);
  l->setFocusPolicy(Qt::NoFocus);
  l->setGeometry(r);
  ctl.label = l;
  return l;
}

QWidget* QtWindow::MakeGroupBox(const res::Control& c, const QRect& r) {
  auto* g = new QGroupBox(Q(c.caption), dialog_.get());
  if (c.style & res::kCaptionCenter) g->setAlignment(Qt::AlignHCenter);
  g->setFocusPolicy(Qt::NoFocus);
  g->setGeometry(r);
  return g;
}

QWidget* QtWindow::MakeEdit(const res::Control& c, Ctl& ctl, const QRect& r) {
  QDialog* d = dialog_.get();
  auto* e = new QLineEdit(Q(c.caption), d);
  e->setAlignment((c.style & res::kCenter) ? Qt::AlignHCenter : Qt::AlignLeft);
  e->setFrame((c.style & res::kBorder) != 0);
  e->installEventFilter(d);
  e->setGeometry(r);
  ctl.edit = e;
  return e;
}

QWidget* QtWindow::MakeUpDown(const res::Control& c, Ctl& ctl, Ctl* previous, const QRect& r) {
  QDialog* d = dialog_.get();
  const int id = c.id;
  auto* u = new UpDown(d, [this, id](int direction) {
    if (Ctl* self = Find(id)) Step(*self, direction);
  });
  if ((c.style & res::kAutoBuddy) && previous && previous->edit) {
    ctl.buddy = previous->edit;
    if (c.style & res::kArrowKeys) ctl.buddy->installEventFilter(d);
  }
  u->setGeometry(r);
  ctl.upDown = u;
  return u;
}

QWidget* QtWindow::MakeListBox(const res::Control& c, Ctl& ctl, const QRect& r) {
  QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  mono.setPointSize(tmpl_.fontPoints);
  if (!(c.style & res::kNoSel)) {
    // Short lists to choose from: Qt's own list, one line selected at a time.
    auto* pick = new QListWidget(dialog_.get());
    pick->setFont(mono);
    pick->setUniformItemSizes(true);
    pick->setSelectionMode(QAbstractItemView::SingleSelection);
    pick->setFrameShape((c.style & res::kBorder) ? QFrame::StyledPanel : QFrame::NoFrame);
    pick->setGeometry(r);
    const int id = c.id;
    const bool notify = (c.style & res::kNotify) != 0;
    QObject::connect(pick, &QListWidget::itemSelectionChanged, dialog_.get(), [this, id, notify] {
      if (notify && !settingList_ && Reporting()) events_.OnBackendCommand(id, LBN_SELCHANGE);
    });
    ctl.pick = pick;
    return pick;
  }
  auto* view = new LogView(dialog_.get());
  view->setFont(mono);
  auto* model = new LogModel(view);
  view->SetLogModel(model);
  view->setFrameShape((c.style & res::kBorder) ? QFrame::StyledPanel : QFrame::NoFrame);
  view->setFocusPolicy(Qt::StrongFocus);
  view->setGeometry(r);
  // The list's own items; the dialog's follow them (ListAppendMenu).
  auto* menu = new QMenu(view);
  menu->setFont(font_);
  QAction* times = menu->addAction(QStringLiteral("Show Times"));
  times->setCheckable(true);
  QObject::connect(times, &QAction::toggled, view, [model](bool on) { model->SetShowTimes(on); });
  menu->addSeparator();
  QAction* all = menu->addAction(QStringLiteral("Select All"));
  all->setShortcut(QKeySequence::SelectAll);
  QObject::connect(all, &QAction::triggered, view, [view] { view->selectAll(); });
  QAction* copy = menu->addAction(QStringLiteral("Copy"));
  copy->setShortcut(QKeySequence::Copy);
  QObject::connect(copy, &QAction::triggered, view, [view] { view->CopySelection(); });
  // Shown in the menu only: the view handles the keys itself.
  all->setShortcutContext(Qt::WidgetShortcut);
  copy->setShortcutContext(Qt::WidgetShortcut);
  const int id = c.id;
  view->onMenu = [this, id](const QPoint& at) {
    if (const Ctl* self = Find(id)) ShowListMenu(*self, at);
  };
  ctl.list = view;
  ctl.model = model;
  ctl.menu = menu;
  return view;
}

QWidget* QtWindow::MakeIcon(const res::Control& c, const QRect& r) {
  auto* l = new QLabel(dialog_.get());
  // The caption names the icon as "#id"; without one it is the application's.
  int iconId = IDR_MAINFRAME;
  if (c.caption.size() > 1 && c.caption[0] == '#') {
    std::from_chars(c.caption.data() + 1, c.caption.data() + c.caption.size(), iconId);
  }
  if (HICON icon = fw::LoadIcon(iconId)) {
    l->setPixmap(QPixmap::fromImage(ToImage(icon->Best(kSystemIconSize))));
  }
  l->setFocusPolicy(Qt::NoFocus);
  // An icon control takes the icon's size, whatever the template says.
  l->setGeometry(r.x(), r.y(), kSystemIconSize, kSystemIconSize);
  return l;
}

void QtWindow::FollowSize() {
  if (!(tmpl_.style & res::kResizable) || allWidgets_.size() != tmpl_.controls.size()) return;
  const QSize base = ToPixels(0, 0, tmpl_.w, tmpl_.h).size();
  const int dw = std::max(0, dialog_->width() - base.width());
  const int dh = std::max(0, dialog_->height() - base.height());
  const int upper = dh / 2;
  for (size_t i = 0; i < allWidgets_.size(); ++i) {
    const res::Control& c = tmpl_.controls[i];
    if (!(c.style & (res::kSizeX | res::kSizeUpperHalf | res::kSizeLowerHalf))) continue;
    QRect r = ToPixels(c.x, c.y, c.w, c.h);
    if (c.style & res::kSizeX) r.setWidth(r.width() + dw);
    if (c.style & res::kSizeUpperHalf) r.setHeight(r.height() + upper);
    if (c.style & res::kSizeLowerHalf) {
      r.translate(0, upper);
      r.setHeight(r.height() + dh - upper);
    }
    allWidgets_[i]->setGeometry(r);
  }
}

void QtWindow::PlaceWindow() {
  QDialog& d = *dialog_;
  QRect area;
  if (owner_ && owner_->dialog_ && owner_->dialog_->isVisible()) {
    area = owner_->dialog_->frameGeometry();
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  if (tmpl_.x == 0 && tmpl_.y == 0) {
    d.move(area.center() - QPoint(d.width() / 2, d.height() / 2));
  } else {
    d.move(area.topLeft() + ToPixels(tmpl_.x, tmpl_.y, 0, 0).topLeft());
  }
  if (owner_ && owner_->dialog_) {
    // Keeps the box above its owner in the window manager's stacking.
    d.winId();
    owner_->dialog_->winId();
    if (d.windowHandle() && owner_->dialog_->windowHandle()) {
      d.windowHandle()->setTransientParent(owner_->dialog_->windowHandle());
    }
  }
}

void QtWindow::FocusFirstTabStop() {
  for (size_t i = 0; i < tmpl_.controls.size(); ++i) {
    const auto& c = tmpl_.controls[i];
    QWidget* w = allWidgets_[i];
    if ((c.style & res::kTabStop) && !w->isHidden() && w->isEnabled()) {
      w->setFocus(Qt::OtherFocusReason);
      return;
    }
  }
}

bool QtWindow::Create() {
  if (created_) return true;
  Build();
  created_ = true;
  for (const auto& item : tmpl_.initItems) ComboAdd(item.controlId, item.text);
  const BOOL focus = events_.OnBackendInit();
  if (focus && !ended_) FocusFirstTabStop();
  return true;
}

INT_PTR QtWindow::RunModal() {
  if (!Create()) return -1;
  if (!ended_) dialog_->exec();
  // The loop may also stop because the application quits: the dialog ends all the same.
  if (!ended_) End(IDCANCEL);
  return endCode_;
}

void QtWindow::End(INT_PTR code) {
  if (ended_) return;
  ended_ = true;
  endCode_ = code;
  for (auto& [id, timer] : timers_) timer.stop();
  timers_.clear();
  watches_.clear();
  dialog_->done(static_cast<int>(code));
}

// ---- user input ----

void QtWindow::Click(const Ctl& ctl) {
  if (!Reporting()) return;
  // The dialog's own buttons end it, as the framework routes them by default.
  if (ctl.tmpl->id == IDOK) {
    events_.OnBackendOk();
  } else if (ctl.tmpl->id == IDCANCEL) {
    events_.OnBackendCancel();
  } else {
    events_.OnBackendCommand(ctl.tmpl->id, BN_CLICKED);
  }
}

void QtWindow::OnEnter() {
  if (!Reporting()) return;
  if (auto* focused = qobject_cast<QPushButton*>(dialog_->focusWidget())) {
    if (focused->isEnabled() && focused->isVisible()) focused->click();
    return;
  }
  for (const auto& [id, ctl] : ctls_) {
    if (ctl.tmpl->kind == res::Kind::DefPushButton && ctl.button->isEnabled() &&
        !ctl.button->isHidden()) {
      ctl.button->click();
      return;
    }
  }
  events_.OnBackendOk();
}

void QtWindow::OnOk() {
  if (Reporting()) events_.OnBackendOk();
}

void QtWindow::OnCancel() {
  if (Reporting()) events_.OnBackendCancel();
}

void QtWindow::OnClose() {
  if (Reporting()) events_.OnBackendClose();
}

bool QtWindow::FilterEvent(QObject* watched, QEvent* event) {
  if (dying_) return false;
  const bool focusOut = event->type() == QEvent::FocusOut;
  const bool keyPress = event->type() == QEvent::KeyPress;
  const bool tip = event->type() == QEvent::ToolTip || event->type() == QEvent::FocusIn;
  if (!focusOut && !keyPress && !tip) return false;
  for (auto& [id, ctl] : ctls_) {
    if (tip && ctl.tipWatched &&
        (ctl.widget == watched || (ctl.combo && ctl.combo->lineEdit() == watched))) {
      // Renewed before Qt shows the tip or a screen reader reads it.
      if (Reporting()) events_.OnBackendCommand(id, TTN_NEEDTEXT);
      return false;
    }
    if (tip) continue;
    if (focusOut && ctl.edit == watched) {
      // A popup (a menu, a drop-down list) borrows the focus and gives it back.
      if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason && Reporting()) {
        events_.OnBackendCommand(id, EN_KILLFOCUS);
      }
      return false;
    }
    if (keyPress && ctl.upDown && ctl.buddy == watched && (ctl.tmpl->style & res::kArrowKeys)) {
      const auto* k = static_cast<QKeyEvent*>(event);
      const auto mods = k->modifiers() & ~Qt::KeypadModifier;
      if (mods == Qt::NoModifier && (k->key() == Qt::Key_Up || k->key() == Qt::Key_Down)) {
        Step(ctl, k->key() == Qt::Key_Up ? +1 : -1);
        return true;
      }
    }
  }
  return false;
}

void QtWindow::Step(Ctl& ctl, int direction) {
  if (!Reporting() || !ctl.widget->isEnabled()) return;
  const int lo = std::min(ctl.lower, ctl.upper), hi = std::max(ctl.lower, ctl.upper);
  if (ctl.buddy) {
    // The position follows the buddy's number when that is one within range.
    const std::string t = S(ctl.buddy->text());
    const char* b = t.data();
    const char* e = t.data() + t.size();
    while (b < e && std::isspace(static_cast<unsigned char>(*b))) ++b;
    int v = 0;
    auto [ptr, ec] = std::from_chars(b, e, v);
    if (ec == std::errc() && ptr == e && v >= lo && v <= hi) ctl.pos = v;
  }
  const NMUPDOWN nm{ctl.pos, direction < 0 ? -1 : 1};
  if (events_.OnBackendDeltaPos(ctl.tmpl->id, nm) != 0 || !Reporting()) return;
  int next = ctl.pos + nm.iDelta;
  const bool wrap = (ctl.tmpl->style & res::kWrap) != 0;
  if (next > hi) next = wrap ? lo : hi;
  if (next < lo) next = wrap ? hi : lo;
  ctl.pos = next;
  if (ctl.buddy && (ctl.tmpl->style & res::kSetBuddyInt)) ctl.buddy->setText(QString::number(next));
}

void QtWindow::OnTimerEvent(int qtTimerId) {
  UINT_PTR id = 0;
  bool found = false;
  for (const auto& [timerId, timer] : timers_) {
    if (timer.timerId() == qtTimerId) {
      id = timerId;
      found = true;
      break;
    }
  }
  if (found && Reporting()) events_.OnBackendTimer(id);
}

void QtWindow::OnPaint(QPainter& painter) {
  if (!created_ || dying_) return;
  painter_ = &painter;
  events_.OnBackendPaint();
  painter_ = nullptr;
}

void QtWindow::ShowSystemMenu(const QPoint& globalPos) {
  if (!Reporting() || !sysMenu_) return;
  const auto actions = sysMenu_->actions();
  if (std::none_of(actions.begin(), actions.end(), [](QAction* a) { return !a->isSeparator(); }))
    return;
  QAction* chosen = sysMenu_->exec(globalPos);
  // Run the command after the menu has closed, so that it may open a modal dialog of its own.
  if (chosen && Reporting()) events_.OnBackendSysCommand(chosen->data().toUInt(), 0);
}

void QtWindow::ShowListMenu(const Ctl& ctl, const QPoint& globalPos) {
  if (!Reporting() || !ctl.menu) return;
  QAction* chosen = ctl.menu->exec(globalPos);
  // The list's own items act through their signals; the dialog's run after the menu closed.
  if (chosen && chosen->data().isValid() && Reporting()) {
    events_.OnBackendCommand(static_cast<int>(chosen->data().toUInt()), BN_CLICKED);
  }
}

// ---- controls ----

void QtWindow::SetText(int id, std::string_view text) {
  Ctl* c = Find(id);
  if (!c) return;
  const QString t = Q(text);
  if (c->edit) {
    c->edit->setText(t);
  } else if (c->combo) {
    const int index = c->combo->findText(t, Qt::MatchExactly | Qt::MatchCaseSensitive);
    c->combo->setCurrentIndex(index);
    if (c->combo->isEditable()) c->combo->setEditText(t);
  } else if (c->label) {
    c->label->setText(t);
    c->label->setAccessibleDescription(t);
  } else if (c->button) {
    c->button->setText(t);
  } else if (c->check) {
    c->check->setText(t);
  } else if (auto* g = qobject_cast<QGroupBox*>(c->widget)) {
    g->setTitle(t);
  }
}

std::string QtWindow::GetText(int id) const {
  const Ctl* c = Find(id);
  if (!c) return {};
  if (c->edit) return S(c->edit->text());
  if (c->combo) return S(c->combo->currentText());
  if (c->label) return S(c->label->text());
  if (c->button) return S(c->button->text());
  if (c->check) return S(c->check->text());
  if (auto* g = qobject_cast<QGroupBox*>(c->widget)) return S(g->title());
  return {};
}

int QtWindow::GetCheck(int id) const {
  const Ctl* c = Find(id);
  if (!c || !c->check) return 0;
  switch (c->check->checkState()) {
    case Qt::Checked:
      return 1;
    case Qt::PartiallyChecked:
      return 2;
    default:
      return 0;
  }
}

void QtWindow::SetCheck(int id, int state) {
  Ctl* c = Find(id);
  if (!c || !c->check) return;
  if (state == 2) c->check->setTristate(true);
  const Qt::CheckState next = state == 1   ? Qt::Checked
                              : state == 2 ? Qt::PartiallyChecked
                                           : Qt::Unchecked;
  // Qt repaints a check box on every set, changed or not; data exchange sets them all each time.
  if (c->check->checkState() != next) c->check->setCheckState(next);
}

void QtWindow::Enable(int id, bool enable) {
  if (Ctl* c = Find(id)) c->widget->setEnabled(enable);
}

bool QtWindow::IsEnabled(int id) const {
  const Ctl* c = Find(id);
  return c && c->widget->isEnabled();
}

void QtWindow::FocusControl(int id) {
  Ctl* c = Find(id);
  if (!c) return;
  c->widget->setFocus(Qt::OtherFocusReason);
  if (c->edit) c->edit->selectAll();
}

int QtWindow::ListAdd(int id, std::string_view line, int64_t timeMs) {
  Ctl* c = Find(id);
  if (c && c->pick) {
    c->pick->addItem(Q(line));
    return c->pick->count() - 1;
  }
  if (!c || !c->model) return LB_ERR;
  constexpr int kNoSpace = -2;
  if (!c->model->Append(line, timeMs)) return kNoSpace;
  return c->model->Count() - 1;
}

std::string QtWindow::ListText(int id, int index) const {
  const Ctl* c = Find(id);
  return c && c->model ? std::string(c->model->Line(index)) : std::string();
}

int64_t QtWindow::ListTime(int id, int index) const {
  const Ctl* c = Find(id);
  return c && c->model ? c->model->Time(index) : 0;
}

void QtWindow::ListAppendMenu(int id, UINT flags, UINT itemId, std::string_view text) {
  Ctl* c = Find(id);
  if (!c || !c->menu) return;
  if (flags & MF_SEPARATOR) {
    c->menu->addSeparator();
    return;
  }
  QAction* a = c->menu->addAction(Q(text));
  a->setData(itemId);
  a->setEnabled((flags & (kMenuGrayed | kMenuDisabled)) == 0);
  if (flags & MF_CHECKED) {
    a->setCheckable(true);
    a->setChecked(true);
  }
}

int QtWindow::ListCount(int id) const {
  const Ctl* c = Find(id);
  if (c && c->pick) return c->pick->count();
  return c && c->model ? c->model->Count() : LB_ERR;
}

int QtWindow::ListSetCurSel(int id, int index) {
  Ctl* c = Find(id);
  if (c && c->pick) {
    if (index < -1 || index >= c->pick->count()) return LB_ERR;
    settingList_ = true;
    c->pick->setCurrentRow(index);
    if (index >= 0) c->pick->scrollToItem(c->pick->item(index));
    settingList_ = false;
    return index;
  }
  if (!c || !c->list || index < -1 || index >= c->model->Count()) return LB_ERR;
  c->list->MakeCurrentLater(index);
  return index;
}

void QtWindow::ListReset(int id) {
  Ctl* c = Find(id);
  if (c && c->pick) {
    settingList_ = true;
    c->pick->clear();
    settingList_ = false;
    return;
  }
  if (!c || !c->model) return;
  c->model->Clear();
  c->list->Follow();
}

int QtWindow::ComboAdd(int id, std::string_view item) {
  Ctl* c = Find(id);
  if (!c || !c->combo) return CB_ERR;
  // Adding to an empty list selects nothing, unlike Qt's default.
  const int before = c->combo->currentIndex();
  const QString text = c->combo->currentText();
  c->combo->addItem(Q(item));
  if (before < 0) {
    c->combo->setCurrentIndex(-1);
    if (c->combo->isEditable()) c->combo->setEditText(text);
  }
  return c->combo->count() - 1;
}

int QtWindow::ComboSetCurSel(int id, int index) {
  Ctl* c = Find(id);
  if (!c || !c->combo) return CB_ERR;
  if (index < 0 || index >= c->combo->count()) {
    c->combo->setCurrentIndex(-1);
    if (c->combo->isEditable()) c->combo->setEditText(QString());
    return CB_ERR;
  }
  c->combo->setCurrentIndex(index);
  if (c->combo->isEditable()) c->combo->setEditText(c->combo->itemText(index));
  return index;
}

int QtWindow::ComboGetCurSel(int id) const {
  const Ctl* c = Find(id);
  return c && c->combo ? c->combo->currentIndex() : CB_ERR;
}

int QtWindow::ListGetCurSel(int id) const {
  const Ctl* c = Find(id);
  if (!c || !c->pick) return c && c->list ? c->list->CurrentRow() : LB_ERR;
  const auto selected = c->pick->selectedItems();
  return selected.isEmpty() ? LB_ERR : c->pick->row(selected.first());
}

void QtWindow::SetTip(int id, std::string_view text) {
  Ctl* c = Find(id);
  if (!c) return;
  const QString t = Q(text);
  QWidget* inner = c->combo ? c->combo->lineEdit() : nullptr;
  for (QWidget* w : {c->widget, inner}) {
    if (w == nullptr) continue;
    w->setToolTip(t);
    w->setAccessibleDescription(t);
    if (!c->tipWatched) w->installEventFilter(dialog_.get());
  }
  c->tipWatched = true;
}

void QtWindow::SpinSetRange(int id, int lower, int upper) {
  Ctl* c = Find(id);
  if (!c || !c->upDown) return;
  c->lower = lower;
  c->upper = upper;
  c->pos = std::clamp(c->pos, std::min(lower, upper), std::max(lower, upper));
}

// ---- timers, boxes, menu, icons ----

bool QtWindow::SetTimer(UINT_PTR id, UINT elapseMs) {
  if (!created_ || ended_ || dying_) return false;
  // The platform's shortest period; zero would spin.
  constexpr UINT kMinimumMs = 10;
  const UINT ms =
      std::clamp(elapseMs, kMinimumMs, static_cast<UINT>(std::numeric_limits<int>::max()));
  timers_[id].start(static_cast<int>(ms), dialog_.get());
  return true;
}

bool QtWindow::WatchFd(UINT_PTR id, int fd) {
  watches_.erase(id);
  if (fd < 0) return true;
  if (!created_ || ended_ || dying_) return false;
  auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, dialog_.get(), [this, id] {
    if (Reporting()) events_.OnBackendTimer(id);
  });
  watches_[id] = std::move(notifier);
  return true;
}

bool QtWindow::KillTimer(UINT_PTR id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return false;
  it->second.stop();
  timers_.erase(it);
  return true;
}

int QtWindow::MessageBox(std::string_view text, std::string_view title, UINT type) {
  return ShowMessageBox(dialog_.get(), text, title, type);
}

bool QtWindow::HasSystemMenu() const {
  return (tmpl_.style & res::kSysMenu) != 0;
}

void QtWindow::AppendSystemMenu(UINT flags, UINT id, std::string_view text) {
  if (!sysMenu_) return;
  if (flags & MF_SEPARATOR) {
    sysMenu_->addSeparator();
    return;
  }
  QAction* a = sysMenu_->addAction(Q(text));
  a->setData(id);
  a->setEnabled((flags & (kMenuGrayed | kMenuDisabled)) == 0);
  if (flags & MF_CHECKED) {
    a->setCheckable(true);
    a->setChecked(true);
  }
}

void QtWindow::CheckMenuItem(UINT itemId, bool checked) {
  std::vector<QMenu*> menus{sysMenu_.get()};
  for (const auto& [id, ctl] : ctls_) menus.push_back(ctl.menu);
  for (QMenu* menu : menus) {
    if (menu == nullptr) continue;
    for (QAction* a : menu->actions()) {
      if (!a->isSeparator() && a->data().isValid() && a->data().toUInt() == itemId) {
        a->setCheckable(true);
        a->setChecked(checked);
      }
    }
  }
}

int QtWindow::FocusedId() const {
  const QWidget* focus = QApplication::focusWidget();
  if (focus == nullptr) return 0;
  for (const auto& [id, ctl] : ctls_) {
    if (ctl.widget == focus || ctl.widget->isAncestorOf(focus)) return id;
  }
  return 0;
}

std::string QtWindow::SaveFileName(std::string_view title, std::string_view defaultPath) {
  return S(QFileDialog::getSaveFileName(dialog_.get(), Q(title), Q(defaultPath)));
}

void QtWindow::SetIcon(HICON icon, bool big) {
  (big ? bigIcon_ : smallIcon_) = icon;
  UpdateIcon();
}

void QtWindow::UpdateIcon() {
  QIcon icon;
  const auto add = [&icon](HICON h) {
    if (h == nullptr) return;
    for (const auto& img : h->images) icon.addPixmap(QPixmap::fromImage(ToImage(img)));
  };
  add(bigIcon_);
  if (smallIcon_ != bigIcon_) add(smallIcon_);
  dialog_->setWindowIcon(icon);
}

bool QtWindow::IsIconic() const {
  return dialog_->isMinimized();
}

CRect QtWindow::GetClientRect() const {
  return CRect{0, 0, dialog_->width(), dialog_->height()};
}

void QtWindow::EraseIconBackground() {
  if (painter_) painter_->fillRect(dialog_->rect(), dialog_->palette().window());
}

void QtWindow::DrawIcon(int x, int y, HICON icon) {
  if (painter_ && icon && !icon->images.empty()) {
    painter_->drawImage(QPoint(x, y), ToImage(icon->Best(kSystemIconSize)));
  }
}

void QtWindow::WakeForPosted() {
  // Any thread. The dialog widget lives until this window is destroyed, and the dialog stops
  // waking it before that; a call still queued then is dropped with the widget.
  QMetaObject::invokeMethod(
      dialog_.get(),
      [this] {
        if (!dying_) events_.OnBackendPosted();
      },
      Qt::QueuedConnection);
}

}  // namespace fw::qt
