// The console in the real window, offscreen, driven with real clicks and keys.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/qt_views.h"
#include "console/about_dlg.h"
#include "console/nibp_dlg.h"
#include "framework/icon.h"
#include "framework/qt/log_view.h"
#include "framework/qt/qt_backend.h"
#include "framework/qt/qt_window.h"
#include "framework/qt/up_down.h"
#include "records/record_format.h"
#include "res/resource.h"
#include "res/templates.h"
#include "support/fake_device_source.h"
#include "support/fake_platform.h"
#include "support/qt_main.h"
#include "support/sim_process.h"

namespace {

using fw::qt::QtWindow;

// The one QApplication of this program, made in main.
fw::qt::QtBackend* g_ui = nullptr;

constexpr int kWaitMs = 5000;

// A console as the user gets it: created, shown and active.
struct Console {
  std::shared_ptr<serial::FakePlatform> os = std::make_shared<serial::FakePlatform>();
  QtViews views;
  CNibpDlg dlg{*g_ui, os};
  QtWindow* w = nullptr;
  QDialog* d = nullptr;

  Console() {
    dlg.m_views = &views;
    if (!dlg.Create()) return;
    w = dynamic_cast<QtWindow*>(dlg.GetWindow());
    d = w->Dialog();
    d->show();
    d->activateWindow();
    (void)QTest::qWaitForWindowActive(d, kWaitMs);
  }

  template <typename T = QWidget>
  T* C(int id) const {
    return dynamic_cast<T*>(w->Control(id));
  }

  [[nodiscard]] std::vector<std::string> Lines(int id) const {
    std::vector<std::string> out;
    const auto* m = w->ListModel(id);
    for (int i = 0; i < m->Count(); ++i) out.emplace_back(m->Line(i));
    return out;
  }

  [[nodiscard]] std::string LastEvent() const {
    const auto lines = Lines(IDC_LIST_EVENT);
    return lines.empty() ? std::string() : lines.back();
  }

  void Click(int id) const { QTest::mouseClick(w->Control(id), Qt::LeftButton); }

  // OPEN on the port shown (COM1 at start-up), without moving the focus.
  void OpenPort() { dlg.OnPortOpen(); }

  // Puts the caret in the edit with a click and replaces its text by typing.
  void TypeInto(int id, const QString& text) const {
    QWidget* target = w->Control(id);
    if (auto* combo = dynamic_cast<QComboBox*>(target)) target = combo->lineEdit();
    QTest::mouseClick(target, Qt::LeftButton);
    QTest::keyClick(target, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(target, text);
  }

  // Right button on the background, item `item` of its menu (negative: from the end), then
  // `inModal` on the modal window the item opens.
  void FromBackgroundMenu(int item, const std::function<void(QWidget*)>& inModal) const {
    QTimer::singleShot(0, [&] {
      ASSERT_TRUE(
          QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, kWaitMs));
      auto* popup = dynamic_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_NE(popup, nullptr);
      QTimer::singleShot(0, [&] {
        QWidget* modal = nullptr;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
              modal = QApplication::activeModalWidget();
              return modal != nullptr && modal != d && modal->isVisible();
            },
            kWaitMs));
        inModal(modal);
      });
      const auto actions = popup->actions();
      QAction* a = actions[item < 0 ? actions.size() + item : item];
      QTest::mouseClick(popup, Qt::LeftButton, Qt::NoModifier, popup->actionGeometry(a).center());
    });
    QContextMenuEvent right(QContextMenuEvent::Mouse, QPoint(5, 5), d->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(d, &right);
  }

  void SpinClick(int direction) const {
    auto* spin = C<fw::qt::UpDown>(IDC_INFLATE_SPIN);
    QTest::mouseClick(direction > 0 ? spin->UpButton() : spin->DownButton(), Qt::LeftButton);
  }
};

struct ConsoleWindow : ::testing::Test {
  std::unique_ptr<Console> con;
  void SetUp() override {
    con = std::make_unique<Console>();
    ASSERT_NE(con->w, nullptr);
    ASSERT_TRUE(con->d->isActiveWindow());
  }
};

TEST_F(ConsoleWindow, ShowsTheStartStateWithTheFocusOnThePortCombo) {
  auto& c = *con;
  EXPECT_EQ(c.C<QComboBox>(IDC_PORT_COMBO)->currentText(), "COM1");
  EXPECT_EQ(c.C<QComboBox>(IDC_PORT_COMBO)->count(), 11);
  EXPECT_EQ(c.C<QLineEdit>(IDC_INFLATE)->text(), "160");
  EXPECT_EQ(c.C<QLabel>(IDC_PRESSURE)->text(), "  0  mmHg");
  EXPECT_FALSE(c.C<QLabel>(IDC_PRESSURE)->isEnabled());
  EXPECT_TRUE(c.C(IDC_PORT_STATUS)->isVisible());
  EXPECT_FALSE(c.C(IDC_RX_HEX)->isVisible());
  EXPECT_FALSE(c.C(IDC_RX_CHECK)->isVisible());
  EXPECT_EQ(c.w->ListModel(IDC_LIST_RAW)->Count(), 0);
  EXPECT_EQ(c.w->ListModel(IDC_LIST_EVENT)->Count(), 0);
  QWidget* focus = QApplication::focusWidget();
  EXPECT_TRUE(focus == c.C(IDC_PORT_COMBO) || focus == c.C<QComboBox>(IDC_PORT_COMBO)->lineEdit());
  EXPECT_EQ(c.d->windowTitle(), "QUIRAB_NIBP");
  const auto sizes = c.d->windowIcon().availableSizes();
  EXPECT_TRUE(sizes.contains(QSize(32, 32)) && sizes.contains(QSize(16, 16)));
}

TEST_F(ConsoleWindow, ControlsSitWhereTheTemplatePutsThemAndTheirCaptionsFit) {
  auto& c = *con;
  const QSize base = c.w->BaseUnits();
  const auto px = [&](int x, int y, int w, int h) {
    return QRect(std::lround(x * base.width() / 4.0), std::lround(y * base.height() / 8.0),
                 std::lround(w * base.width() / 4.0), std::lround(h * base.height() / 8.0));
  };
  EXPECT_EQ(c.d->size(), px(0, 0, 491, 365).size());
  EXPECT_EQ(c.C(IDC_PORT_OPEN)->geometry(), px(76, 25, 50, 14));
  EXPECT_EQ(c.C(IDC_LIST_EVENT)->geometry(), px(198, 8, 278, 233));
  EXPECT_EQ(c.C(IDC_LIST_RAW)->geometry(), px(13, 246, 464, 105));
  EXPECT_EQ(c.C(IDC_INFLATE_SPIN)->geometry(), px(69, 84, 10, 14));

  // Made larger, the logs take the room (the event log the upper half of the new height, the
  // raw log the lower) and every other control stays; it does not go below the template's size.
  std::vector<QRect> before;
  for (QWidget* w : c.w->Controls()) before.push_back(w->geometry());
  c.d->resize(c.d->size() + QSize(300, 201));
  QTest::qWait(0);
  EXPECT_EQ(c.C(IDC_LIST_EVENT)->geometry(), px(198, 8, 278, 233).adjusted(0, 0, 300, 100));
  EXPECT_EQ(c.C(IDC_LIST_RAW)->geometry(), px(13, 246, 464, 105).adjusted(0, 100, 300, 201));
  const auto controls = c.w->Controls();
  for (size_t i = 0; i < controls.size(); ++i) {
    if (controls[i] == c.C(IDC_LIST_EVENT) || controls[i] == c.C(IDC_LIST_RAW)) continue;
    EXPECT_EQ(controls[i]->geometry(), before[i]) << controls[i]->accessibleName().toStdString();
  }
  c.d->resize(100, 100);
  EXPECT_EQ(c.d->size(), px(0, 0, 491, 365).size());
  EXPECT_EQ(c.C(IDC_LIST_RAW)->geometry(), px(13, 246, 464, 105));

  // Every control takes the clicks on it: no frame lies on top.
  for (QWidget* w : c.w->Controls()) {
    if (w->isHidden() || dynamic_cast<QGroupBox*>(w)) continue;
    QWidget* hit = c.d->childAt(w->geometry().center());
    EXPECT_TRUE(hit == w || w->isAncestorOf(hit)) << w->accessibleName().toStdString();
  }

  // Every caption is drawn whole in its control's box.
  for (QWidget* w : c.w->Controls()) {
    const QFontMetrics fm(w->font());
    if (auto* b = dynamic_cast<QPushButton*>(w)) {
      QStyleOptionButton opt;
      opt.initFrom(b);
      opt.text = b->text();
      const QRect contents = b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
      EXPECT_LE(fm.horizontalAdvance(b->text()), contents.width()) << b->text().toStdString();
    } else if (auto* cb = dynamic_cast<QCheckBox*>(w)) {
      QStyleOptionButton opt;
      opt.initFrom(cb);
      opt.text = cb->text();
      const QRect contents = cb->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, cb);
      EXPECT_LE(fm.horizontalAdvance(cb->text()), contents.width()) << cb->text().toStdString();
    } else if (auto* l = dynamic_cast<QLabel*>(w); l && !l->isHidden()) {
      EXPECT_LE(fm.horizontalAdvance(l->text()), l->width()) << l->text().toStdString();
    } else if (auto* g = dynamic_cast<QGroupBox*>(w)) {
      EXPECT_LE(fm.horizontalAdvance(g->title()), g->width()) << g->title().toStdString();
    }
  }
}

TEST_F(ConsoleWindow, TabVisitsTheTabStopsInTemplateOrder) {
  auto& c = *con;
  std::vector<QWidget*> expected;
  for (const auto& t : res::FindDialog(IDD_QUIRAB_NIBP_DIALOG)->controls) {
    if ((t.style & res::kTabStop) && t.id != IDC_STATIC) expected.push_back(c.C(t.id));
  }
  expected.push_back(expected.front());  // and round again
  const auto owner = [&](QWidget* f) {
    auto* combo = c.C<QComboBox>(IDC_PORT_COMBO);
    return f == combo->lineEdit() ? static_cast<QWidget*>(combo) : f;
  };
  std::vector<QWidget*> visited{owner(QApplication::focusWidget())};
  for (size_t i = 1; i < expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited.push_back(owner(QApplication::focusWidget()));
  }
  EXPECT_EQ(visited, expected);
}

TEST_F(ConsoleWindow, EnterInTheEditSetsThePressureWithTheTypedText) {
  auto& c = *con;
  c.OpenPort();
  c.TypeInto(IDC_INFLATE, "200");
  QTest::keyClick(c.C(IDC_INFLATE), Qt::Key_Return);
  EXPECT_FALSE(c.w->Ended());
  EXPECT_EQ(c.dlg.m_nInflate, 200u);
  EXPECT_EQ(c.LastEvent(), "-- Set Initial Inflate to 200 --");
  EXPECT_EQ(QApplication::focusWidget(), c.C(IDC_INFLATE));
}

TEST(ConsoleKeys, EnterAndEscElsewhereDoNothingAndTheCloseBoxEndsWithCancel) {
  struct Case {
    const char* what;
    int focusId;
    Qt::Key key;
  };
  const Case cases[] = {
      {"Enter in the combo", IDC_PORT_COMBO, Qt::Key_Return},
      {"keypad Enter on a check box", IDC_PUMP, Qt::Key_Enter},
      {"Enter in a log", IDC_LIST_EVENT, Qt::Key_Return},
      {"Esc in the edit", IDC_INFLATE, Qt::Key_Escape},
      {"Esc on a push button", IDC_PORT_OPEN, Qt::Key_Escape},
      {"Esc in a log", IDC_LIST_RAW, Qt::Key_Escape},
  };
  for (const auto& k : cases) {
    Console c;
    ASSERT_NE(c.w, nullptr);
    c.C(k.focusId)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), k.key);
    EXPECT_FALSE(c.w->Ended()) << k.what;
    EXPECT_EQ(c.w->ListModel(IDC_LIST_EVENT)->Count(), 0) << k.what;
  }
  Console c;
  ASSERT_NE(c.w, nullptr);
  c.d->close();
  EXPECT_TRUE(c.w->Ended());
  EXPECT_EQ(c.w->EndCode(), IDCANCEL);
}

TEST_F(ConsoleWindow, EnterOnAFocusedPushButtonClicksIt) {
  auto& c = *con;
  c.OpenPort();
  c.C(IDC_GET_PRESSURE)->setFocus(Qt::TabFocusReason);
  QTest::keyClick(c.C(IDC_GET_PRESSURE), Qt::Key_Return);
  EXPECT_FALSE(c.w->Ended());
  EXPECT_EQ(c.Lines(IDC_LIST_EVENT), std::vector<std::string>{"-- Get Pressure --"});
  EXPECT_EQ(c.Lines(IDC_LIST_RAW), std::vector<std::string>{"PC --> MODULE <3A><79><05><00><48>"});
}

TEST_F(ConsoleWindow, ACheckBoxHasToggledWhenItsClickIsReported) {
  auto& c = *con;
  c.OpenPort();
  c.Click(IDC_PUMP);
  EXPECT_EQ(c.LastEvent(), "-- Start Pump --");
  EXPECT_EQ(c.Lines(IDC_LIST_RAW).back(), "PC --> MODULE <3A><0C><01><00><00><B9>");
  c.Click(IDC_CONTROL_VALVE);
  EXPECT_EQ(c.LastEvent(), "-- Closed Control Valve --");
  c.Click(IDC_PUMP);
  EXPECT_EQ(c.LastEvent(), "-- Stop Pump --");
  EXPECT_EQ(c.Lines(IDC_LIST_RAW).back(), "PC --> MODULE <3A><0C><00><01><00><B9>");
  EXPECT_EQ(QApplication::focusWidget(), c.C(IDC_PUMP));
}

TEST_F(ConsoleWindow, TheEditReportsLosingTheFocusBeforeTheButtonReportsItsClick) {
  auto& c = *con;
  c.OpenPort();
  c.TypeInto(IDC_INFLATE, "250");
  c.Click(IDC_SET_PRESSURE);
  EXPECT_EQ(c.dlg.m_nInflate, 250u);
  EXPECT_EQ(c.LastEvent(), "-- Set Initial Inflate to 250 --");
  EXPECT_EQ(c.Lines(IDC_LIST_RAW).back(), "PC --> MODULE <3A><17><FA><00><B5>");
  EXPECT_EQ(c.C<QLineEdit>(IDC_INFLATE)->text(), "250");  // kept as typed
}

// Out of range: a box, nothing sent, and the focus back in the edit with its text selected.
TEST_F(ConsoleWindow, AnInflateTargetOutsideTheRangeIsRefused) {
  auto& c = *con;
  c.OpenPort();
  c.TypeInto(IDC_INFLATE, "70000");
  QString text;
  QTimer::singleShot(0, [&] {
    QMessageBox* box = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          box = dynamic_cast<QMessageBox*>(QApplication::activeModalWidget());
          return box != nullptr;
        },
        kWaitMs));
    text = box->text();
    box->button(QMessageBox::Ok)->click();
  });
  c.Click(IDC_SET_PRESSURE);
  EXPECT_EQ(text, "Enter a pressure from 30 to 300 mmHg.");
  EXPECT_TRUE(c.Lines(IDC_LIST_RAW).empty());
  EXPECT_TRUE(c.Lines(IDC_LIST_EVENT).empty());
  auto* edit = c.C<QLineEdit>(IDC_INFLATE);
  EXPECT_EQ(c.d->focusWidget(), edit);  // the focus once the window is active again
  EXPECT_EQ(edit->selectedText(), "70000");
}

// Texts are 8-bit: a byte above 0x7F shows as the Latin-1 character of that value.
TEST_F(ConsoleWindow, LogBytesAbove0x7FShowAsLatin1) {
  auto& c = *con;
  c.dlg.m_listEvent.AddString("Reply: \xE9\xFF\x80");
  const auto* m = c.w->ListModel(IDC_LIST_EVENT);
  EXPECT_EQ(m->data(m->index(0), Qt::DisplayRole).toString(),
            QString::fromUtf8("Reply: \u00E9\u00FF") + QChar(0x80));
}

TEST_F(ConsoleWindow, TheUpDownStepsTheEditAndWrapsWithoutTakingTheFocus) {
  auto& c = *con;
  auto* edit = c.C<QLineEdit>(IDC_INFLATE);
  c.SpinClick(+1);
  EXPECT_EQ(edit->text(), "161");
  EXPECT_EQ(c.dlg.m_nInflate, 161u);
  EXPECT_NE(QApplication::focusWidget(), c.C(IDC_INFLATE_SPIN));

  // Typed, then taken over on leaving the edit; the arrows then wrap at both ends.
  c.TypeInto(IDC_INFLATE, "300");
  QTest::keyClick(edit, Qt::Key_Tab);
  EXPECT_EQ(c.dlg.m_nInflate, 300u);
  c.SpinClick(+1);
  EXPECT_EQ(edit->text(), "30");
  EXPECT_EQ(c.dlg.m_nInflate, 30u);
  c.SpinClick(-1);
  EXPECT_EQ(edit->text(), "300");
  EXPECT_EQ(c.dlg.m_nInflate, 300u);

  // The arrow keys in the edit do the same, and the caret stays in the edit.
  c.TypeInto(IDC_INFLATE, "160");
  QTest::keyClick(edit, Qt::Key_Tab);
  edit->setFocus(Qt::TabFocusReason);
  QTest::keyClick(edit, Qt::Key_Up);
  EXPECT_EQ(edit->text(), "161");
  QTest::keyClick(edit, Qt::Key_Down);
  QTest::keyClick(edit, Qt::Key_Down);
  EXPECT_EQ(edit->text(), "159");
  EXPECT_EQ(c.dlg.m_nInflate, 159u);
  EXPECT_EQ(QApplication::focusWidget(), edit);
}

TEST_F(ConsoleWindow, TextTypedIntoTheComboSelectsNothingButAnItemChosenFromItsListDoes) {
  auto& c = *con;
  auto* combo = c.C<QComboBox>(IDC_PORT_COMBO);
  c.TypeInto(IDC_PORT_COMBO, "COM3");
  QTest::keyClick(combo->lineEdit(), Qt::Key_Tab);
  EXPECT_EQ(c.dlg.m_nSelPort, 1);
  EXPECT_EQ(combo->currentIndex(), 1);
  EXPECT_EQ(combo->currentText(), "COM3");

  combo->setFocus(Qt::TabFocusReason);
  QTest::keyClick(combo, Qt::Key_Down);  // the next item of the list
  EXPECT_EQ(c.dlg.m_nSelPort, 2);
  EXPECT_EQ(combo->currentText(), "COM2");
}

TEST_F(ConsoleWindow, EveryControlHasAnAccessibleName) {
  auto& c = *con;
  for (QWidget* w : c.w->Controls()) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    ASSERT_NE(iface, nullptr);
    EXPECT_FALSE(iface->text(QAccessible::Name).isEmpty()) << w->metaObject()->className();
  }
  EXPECT_EQ(c.C(IDC_INFLATE)->accessibleName(), "Initial inflate");
  EXPECT_EQ(c.C(IDC_PORT_COMBO)->accessibleName(), "Port");
  EXPECT_EQ(c.C(IDC_LIST_RAW)->accessibleName(), "Raw log");
  EXPECT_EQ(c.C(IDC_LIST_EVENT)->accessibleName(), "Event log");
  EXPECT_EQ(c.C(IDC_PORT_OPEN)->accessibleName(), "OPEN");
  EXPECT_EQ(c.C(IDC_PRESSURE)->accessibleDescription(), "  0  mmHg");
}

TEST_F(ConsoleWindow, TheLogsShowTheirLinesAndKeepTheNewestInView) {
  auto& c = *con;
  c.OpenPort();
  c.Click(IDC_START_ADULT);
  c.Click(IDC_ABORT_BP);
  // Through the accessibility tree, as a screen reader reads them.
  QAccessibleInterface* list = QAccessible::queryAccessibleInterface(c.C(IDC_LIST_EVENT));
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->childCount(), 2);
  EXPECT_EQ(list->child(0)->text(QAccessible::Name), "-- Start Adult BP --");
  EXPECT_EQ(list->child(1)->text(QAccessible::Name), "-- Abort BP --");

  fw::Window& win = *c.w;
  for (int i = 0; i < 500; ++i) {
    win.ListAdd(IDC_LIST_RAW, "line " + std::to_string(i), 0);
    win.ListSetCurSel(IDC_LIST_RAW, win.ListCount(IDC_LIST_RAW) - 1);
  }
  const auto* view = c.w->ListView(IDC_LIST_RAW);
  const auto* model = c.w->ListModel(IDC_LIST_RAW);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return view->CurrentRow() == model->Count() - 1 &&
               view->viewport()->rect().contains(
                   view->visualRect(model->index(model->Count() - 1)));
      },
      kWaitMs));
  const QModelIndex bottom =
      view->indexAt(QPoint(1, view->viewport()->height() - view->RowHeight()));
  EXPECT_EQ(model->data(bottom, Qt::DisplayRole).toString(), "line 499");
  EXPECT_EQ(view->indexAt(QPoint(1, 1)).row(), view->FirstVisibleRow());

  c.Click(IDC_CLEAR_DISPLAY);
  EXPECT_EQ(model->Count(), 0);
  EXPECT_EQ(c.w->ListModel(IDC_LIST_EVENT)->Count(), 0);
}

// The logs scroll by moving the pixels already drawn and paint only the rows that change: what
// the window shows must be what a full paint draws, before the first scroll and after many.
TEST_F(ConsoleWindow, AGrowingLogOnScreenMatchesAFullPaint) {
  auto& c = *con;
  fw::Window& win = *c.w;
  // Paints are flushed a pass or two after the lines are added: wait for them to agree.
  const auto shownMatchesFullPaint = [&](int id) {
    QWidget* port = c.w->ListView(id)->viewport();
    const auto agree = [&] {
      const QPoint at = port->mapTo(c.d, QPoint(0, 0));
      const QImage shown =
          QGuiApplication::primaryScreen()
              ->grabWindow(c.d->winId(), at.x(), at.y(), port->width(), port->height())
              .toImage()
              .convertToFormat(QImage::Format_RGB32);
      return shown == port->grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    return QTest::qWaitFor(agree, kWaitMs);
  };
  for (const int id : {IDC_LIST_EVENT, IDC_LIST_RAW}) {
    SCOPED_TRACE(id);
    // One line per pass of the event loop, as replies arrive, and now and then three at once.
    for (int i = 0; i < 80; ++i) {
      for (int k = 0; k < (i % 10 == 9 ? 3 : 1); ++k) {
        win.ListAdd(id, "line " + std::to_string(i) + "." + std::to_string(k), 0);
        win.ListSetCurSel(id, win.ListCount(id) - 1);
      }
      QCoreApplication::processEvents();
      if (i == 4) {
        EXPECT_TRUE(shownMatchesFullPaint(id)) << "before scrolling";
      }
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.w->ListView(id)->FirstVisibleRow() > 0; }, kWaitMs));
    EXPECT_TRUE(shownMatchesFullPaint(id)) << "scrolled";
  }
}

// Runs `act` once the popup menu `menu` is up, then chooses nothing unless `act` does.
void WhenMenuShows(QMenu* menu, const std::function<void(QMenu*)>& act) {
  QTimer::singleShot(0, [menu, act] {
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QApplication::activePopupWidget() == menu; }, kWaitMs));
    act(menu);
    if (menu->isVisible()) QTest::keyClick(menu, Qt::Key_Escape);
  });
}

QAction* Item(QMenu* menu, const QString& text) {
  for (QAction* a : menu->actions()) {
    if (a->text() == text) return a;
  }
  return nullptr;
}

TEST_F(ConsoleWindow, EachLogHasItsOwnMenuWithTimesSelectionCopyAndSave) {
  auto& c = *con;
  const struct {
    int id;
    std::vector<QString> items;
  } logs[] = {
      {IDC_LIST_RAW, {"Show Times", "", "Select All", "Copy", "", "Save As...", "Show Bad Frames"}},
      {IDC_LIST_EVENT,
       {"Show Times", "", "Select All", "Copy", "", "Save As...", "Hide Poll Lines"}},
  };
  for (const auto& log : logs) {
    QMenu* menu = c.w->ListMenu(log.id);
    ASSERT_NE(menu, nullptr);
    std::vector<QString> texts;
    for (QAction* a : menu->actions()) texts.push_back(a->isSeparator() ? QString() : a->text());
    EXPECT_EQ(texts, log.items);
    EXPECT_TRUE(Item(menu, "Show Times")->isCheckable());
    EXPECT_FALSE(Item(menu, "Show Times")->isChecked());
    // The right button, the Menu key and Shift+F10 on the list open it, not the window's.
    auto* view = c.w->ListView(log.id);
    for (int way = 0; way < 3; ++way) {
      bool shown = false;
      WhenMenuShows(menu, [&](QMenu*) { shown = true; });
      const_cast<fw::qt::LogView*>(view)->setFocus(Qt::TabFocusReason);
      if (way == 0) {
        QContextMenuEvent right(QContextMenuEvent::Mouse, QPoint(5, 5),
                                view->viewport()->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(view->viewport(), &right);
      } else if (way == 1) {
        QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(5, 5),
                              view->viewport()->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(const_cast<fw::qt::LogView*>(view), &key);
      } else {
        QTest::keyClick(const_cast<fw::qt::LogView*>(view), Qt::Key_F10, Qt::ShiftModifier);
      }
      EXPECT_TRUE(shown) << log.id << " way " << way;
    }
  }
  EXPECT_FALSE(c.w->Ended());
}

TEST_F(ConsoleWindow, ShowTimesSelectionAndCopyGiveTheLinesWithTheirTimes) {
  auto& c = *con;
  int64_t now = 1796635801000;
  c.dlg.m_clock = [&] { return now += 1001; };
  c.OpenPort();
  for (int i = 0; i < 3; ++i) {
    c.Click(IDC_GET_PRESSURE);
    c.Click(IDC_ABORT_BP);
  }
  auto* view = const_cast<fw::qt::LogView*>(c.w->ListView(IDC_LIST_EVENT));
  const auto* model = c.w->ListModel(IDC_LIST_EVENT);
  ASSERT_EQ(model->Count(), 6);
  const auto shown = [&](int row) {
    return records::TimeOfDayLocal(model->Time(row)) + " " + std::string(model->Line(row));
  };
  // A line's tooltip: its date and time over its whole text, broken to fit the screen.
  EXPECT_EQ(model->data(model->index(2), Qt::ToolTipRole).toString().toStdString(),
            records::DateTimeLocal(model->Time(2)) + "\n-- Get Pressure --");

  // Show Times, chosen from the menu: every line shows its time, to screen readers too.
  WhenMenuShows(c.w->ListMenu(IDC_LIST_EVENT), [](QMenu* m) { Item(m, "Show Times")->trigger(); });
  view->setFocus(Qt::TabFocusReason);
  QTest::keyClick(view, Qt::Key_F10, Qt::ShiftModifier);
  EXPECT_EQ(model->data(model->index(0), Qt::DisplayRole).toString().toStdString(), shown(0));
  QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->child(1)->text(QAccessible::Name).toStdString(), shown(1));
  EXPECT_EQ(model->Line(1), "-- Abort BP --");  // the stored text is unchanged

  // Click, Shift+click, Ctrl+click, then Ctrl+C: the lines in log order, one per line.
  QTest::qWait(50);
  const auto at = [&](int row) { return view->visualRect(model->index(row)).center(); };
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at(4));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, at(2));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, at(0));
  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
            shown(0) + "\n" + shown(2) + "\n" + shown(3) + "\n" + shown(4) + "\n");
  // A click below the last line selects nothing.
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(5, view->viewport()->height() - 2));
  EXPECT_FALSE(view->selectionModel()->hasSelection());
  // Ctrl+A and the menu's Copy take everything.
  QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
  WhenMenuShows(c.w->ListMenu(IDC_LIST_EVENT), [](QMenu* m) { Item(m, "Copy")->trigger(); });
  QTest::keyClick(view, Qt::Key_F10, Qt::ShiftModifier);
  std::string all;
  for (int row = 0; row < 6; ++row) all += shown(row) + "\n";
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), all);

  c.w->ListAdd(IDC_LIST_EVENT,
               std::string(90, 'a') + " " + std::string(30, 'b') + std::string(200, 'c'), 0);
  EXPECT_EQ(model->data(model->index(6), Qt::ToolTipRole).toString().toStdString(),
            records::DateTimeLocal(0) + "\n" + std::string(90, 'a') + "\n" + std::string(30, 'b') +
                std::string(70, 'c') + "\n" + std::string(100, 'c') + "\n" + std::string(30, 'c'));
}

TEST_F(ConsoleWindow, ALogScrolledAwayOrWithASelectionHoldsUntilEnd) {
  auto& c = *con;
  fw::Window& win = *c.w;
  auto* view = const_cast<fw::qt::LogView*>(c.w->ListView(IDC_LIST_RAW));
  const auto* model = c.w->ListModel(IDC_LIST_RAW);
  const auto add = [&](int n) {
    for (int i = 0; i < n; ++i) {
      win.ListAdd(IDC_LIST_RAW, "line " + std::to_string(model->Count()), 0);
      win.ListSetCurSel(IDC_LIST_RAW, model->Count() - 1);
    }
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
  };
  const auto newestInView = [&] {
    return view->viewport()->rect().contains(view->visualRect(model->index(model->Count() - 1)));
  };
  add(200);
  ASSERT_TRUE(QTest::qWaitFor(newestInView, kWaitMs));

  // Scrolled up with the bar: the view stays where the user put it while lines arrive.
  view->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
  const int held = view->FirstVisibleRow();
  add(50);
  EXPECT_EQ(view->FirstVisibleRow(), held);
  EXPECT_FALSE(newestInView());
  // Back at the bottom of the bar, it follows again.
  view->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
  add(50);
  EXPECT_TRUE(QTest::qWaitFor(newestInView, kWaitMs));

  // A selected line holds the view and stays selected; End lets go of both.
  view->setFocus(Qt::TabFocusReason);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                    view->visualRect(model->index(view->FirstVisibleRow() + 1)).center());
  const int selected = view->FirstVisibleRow() + 1;
  const int top = view->FirstVisibleRow();
  add(100);
  EXPECT_EQ(view->FirstVisibleRow(), top);
  EXPECT_TRUE(view->selectionModel()->isRowSelected(selected, QModelIndex()));
  EXPECT_EQ(view->selectionModel()->selectedRows().size(), 1);
  QTest::keyClick(view, Qt::Key_End);
  add(10);
  EXPECT_TRUE(QTest::qWaitFor(newestInView, kWaitMs));
  EXPECT_FALSE(view->selectionModel()->hasSelection());
  EXPECT_EQ(view->CurrentRow(), model->Count() - 1);
}

TEST_F(ConsoleWindow, AutoPressureDisplayPollsOnTheTimerUntilUnchecked) {
  auto& c = *con;
  c.OpenPort();
  c.Click(IDC_AUTO_PRESSURE);
  EXPECT_TRUE(c.C(IDC_PRESSURE)->isEnabled());
  EXPECT_TRUE(c.w->TimerRunning(TIMER_PRESSURE_POLL));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !c.Lines(IDC_LIST_EVENT).empty(); }, kWaitMs));
  EXPECT_EQ(c.LastEvent(), "-- Get Pressure --");
  EXPECT_EQ(c.Lines(IDC_LIST_RAW).back(), "PC --> MODULE <3A><79><05><00><48>");
  c.Click(IDC_AUTO_PRESSURE);
  EXPECT_FALSE(c.C(IDC_PRESSURE)->isEnabled());
  EXPECT_EQ(c.C<QLabel>(IDC_PRESSURE)->text(), "  0 mmHg");
  EXPECT_FALSE(c.w->TimerRunning(TIMER_PRESSURE_POLL));
}

TEST_F(ConsoleWindow, TheMinimisedWindowPaintsItsIconCentredInTheClientArea) {
  auto& c = *con;
  c.d->showMinimized();
  ASSERT_TRUE(c.w->IsIconic());
  QImage drawn(c.d->size(), QImage::Format_ARGB32);
  drawn.fill(Qt::magenta);
  c.d->render(&drawn, QPoint(), QRegion(), QWidget::DrawWindowBackground);  // the window alone
  c.d->showNormal();

  const fw::IconImage& icon = fw::LoadIcon(IDR_MAINFRAME)->Best(32);
  ASSERT_EQ(icon.size, 32);
  const int x = (c.d->width() - 32 + 1) / 2, y = (c.d->height() - 32 + 1) / 2;
  const QRgb background = c.d->palette().window().color().rgba();
  int opaque = 0, wrong = 0;
  for (int iy = 0; iy < 32; ++iy) {
    for (int ix = 0; ix < 32; ++ix) {
      const uint32_t want = icon.argb[static_cast<size_t>(iy) * 32 + ix];
      const bool solid = qAlpha(want) == 255;
      opaque += solid ? 1 : 0;
      wrong += drawn.pixel(x + ix, y + iy) != (solid ? want : background) ? 1 : 0;
    }
  }
  EXPECT_GT(opaque, 500);
  EXPECT_EQ(wrong, 0);
}

TEST_F(ConsoleWindow, TheBackgroundMenuCarriesTheAboutItemWhichOpensTheAboutBox) {
  auto& c = *con;
  QMenu* menu = c.w->SystemMenu();
  ASSERT_NE(menu, nullptr);
  const auto actions = menu->actions();
  ASSERT_EQ(actions.size(), 11);
  EXPECT_TRUE(actions[0]->isSeparator());
  EXPECT_EQ(actions[1]->text(), "QUIRAB_NIBP 정보(&A)...");
  EXPECT_EQ(actions[1]->data().toUInt(), IDM_ABOUTBOX);
  EXPECT_EQ(actions[2]->text(), "Pressure Chart");
  EXPECT_EQ(actions[2]->data().toUInt(), IDM_PRESSURE_CHART);
  EXPECT_EQ(actions[3]->text(), "Results");
  EXPECT_EQ(actions[3]->data().toUInt(), IDM_RESULTS);
  EXPECT_EQ(actions[4]->text(), "Ports...");
  EXPECT_EQ(actions[4]->data().toUInt(), IDM_PORTS);
  EXPECT_EQ(actions[5]->text(), "Send Bytes...");
  EXPECT_EQ(actions[6]->text(), "Service Checks...");
  EXPECT_EQ(actions[6]->data().toUInt(), IDM_SERVICE_CHECKS);
  EXPECT_EQ(actions[8]->text(), "Fetch Result When Done");
  EXPECT_TRUE(actions[8]->isCheckable() && !actions[8]->isChecked());
  EXPECT_EQ(actions[9]->text(), "Record Session");
  EXPECT_TRUE(actions[9]->isCheckable() && actions[9]->isChecked());
  EXPECT_EQ(actions[10]->text(), "Open Sessions Folder");

  // Right button on the background: choose the item, then close the box with Enter.
  QString aboutTitle;
  QString aboutText;
  c.FromBackgroundMenu(1, [&](QWidget* about) {
    aboutTitle = about->windowTitle();
    if (auto* label = about->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
      aboutText = label->text();
    }
    QTest::keyClick(about, Qt::Key_Return);
  });
  EXPECT_EQ(aboutTitle, "QUIRAB_NIBP 정보");
  EXPECT_FALSE(c.w->Ended());

  // Shift+F10 opens the same menu from the keyboard; Esc closes it and nothing runs.
  bool shown = false;
  QTimer::singleShot(0, [&] {
    ASSERT_TRUE(
        QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, kWaitMs));
    shown = QApplication::activePopupWidget() == menu;
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
  });
  c.C(IDC_GET_BP_DATA)->setFocus(Qt::TabFocusReason);
  QTest::keyClick(c.C(IDC_GET_BP_DATA), Qt::Key_F10, Qt::ShiftModifier);
  EXPECT_TRUE(shown);
  EXPECT_FALSE(c.w->Ended());
  EXPECT_EQ(c.w->ListModel(IDC_LIST_EVENT)->Count(), 0);
}

TEST_F(ConsoleWindow, ThePortsItemOpensThePortsWindowWhoseButtonsMapAndUnmap) {
  auto& c = *con;
  testsupport::TempConfigHome home;
  ports_test::FakeDeviceSource fake;
  fake.Plug(ports_test::UsbAdapter());
  fake.Plug(ports_test::OnBoard());
  c.dlg.m_makeDeviceSource = [&] { return fake.Share(); };
  const std::string byId = ports_test::UsbAdapter().byId;
  // A row as the table shows it, whatever its sort order: its cells, tab apart.
  const auto rows = [](QTableView* t) {
    std::vector<std::string> out;
    for (int r = 0; t && r < t->model()->rowCount(); ++r) {
      QStringList cells;
      for (int col = 0; col < t->model()->columnCount(); ++col) {
        cells << t->model()->index(r, col).data().toString();
      }
      out.push_back(cells.join(QLatin1Char('\t')).toStdString());
    }
    return out;
  };
  const auto clickRow = [](QTableView* t, int row, Qt::KeyboardModifiers mods = {}) {
    QTest::mouseClick(t->viewport(), Qt::LeftButton, mods,
                      t->visualRect(t->model()->index(row, 0)).center());
  };
  std::vector<std::string> table, devices, unplugged, sorted;
  QString title, result, cellText;
  int columns = 0;
  bool linked = false, unlinked = false;
  c.FromBackgroundMenu(4, [&](QWidget* p) {
    title = p->windowTitle();
    QTableView *portTable = nullptr, *devTable = nullptr;
    for (auto* t : p->findChildren<QTableView*>()) {
      if (t->accessibleName() == "Ports") portTable = t;
      if (t->accessibleName() == "Serial devices") devTable = t;
    }
    ASSERT_TRUE(portTable && devTable);
    QPushButton *map = nullptr, *unmap = nullptr, *close = nullptr;
    for (auto* b : p->findChildren<QPushButton*>()) {
      if (b->text() == "Map") map = b;
      if (b->text() == "Unmap") unmap = b;
      if (b->text() == "Close") close = b;
    }
    ASSERT_TRUE(map && unmap && close);
    // Screen readers read the table cell by cell.
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(portTable);
    ASSERT_TRUE(a && a->tableInterface());
    columns = a->tableInterface()->columnCount();
    if (QAccessibleInterface* cell = a->tableInterface()->cellAt(0, 0)) {
      cellText = cell->text(QAccessible::Name);
    }
    clickRow(portTable, 3);
    clickRow(devTable, 0);
    QTest::mouseClick(map, Qt::LeftButton);
    table = rows(portTable);
    devices = rows(devTable);
    for (auto* l : p->findChildren<QLabel*>()) {
      if (l->accessibleName() == "Mapping result") result = l->text();
    }
    std::error_code ec;
    linked = std::filesystem::read_symlink(home.PortLink("COM4"), ec) == byId;
    // Unplugged while the window is open: shown within a second.
    fake.Unplug("/dev/ttyUSB0");
    (void)QTest::qWaitFor([&] { return devTable->model()->rowCount() == 1; }, 1000);
    unplugged = rows(portTable);
    // Sorted by port, descending: the selection follows its row.
    portTable->horizontalHeader()->setSortIndicator(0, Qt::DescendingOrder);
    sorted = rows(portTable);
    QTest::mouseClick(unmap, Qt::LeftButton);
    unlinked = !std::filesystem::exists(std::filesystem::symlink_status(home.PortLink("COM4"), ec));
    QTest::mouseClick(close, Qt::LeftButton);
  });

  EXPECT_EQ(title, "Ports");
  EXPECT_EQ(columns, 4);
  EXPECT_EQ(cellText, "COM1");
  ASSERT_EQ(table.size(), 10u);
  EXPECT_EQ(table[0], "COM1\t/dev/ttyS0\tyes\tyes");
  EXPECT_EQ(table[3], "COM4\t" + byId + "\tyes\tyes");
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_TRUE(devices[0].find("as COM4\t") != std::string::npos) << devices[0];
  EXPECT_EQ(result.toStdString(), "COM4 now opens " + byId);
  EXPECT_TRUE(linked);
  ASSERT_EQ(unplugged.size(), 10u);
  EXPECT_EQ(unplugged[3], "COM4\t" + byId + "\tno\t");
  ASSERT_EQ(sorted.size(), 10u);
  EXPECT_TRUE(sorted[0].starts_with("COM10\t")) << sorted[0];
  EXPECT_TRUE(unlinked);
  EXPECT_FALSE(c.w->Ended());

  // The port box tells where its port leads, as a tooltip and as its accessible description.
  auto* combo = c.C<QComboBox>(IDC_PORT_COMBO);
  std::filesystem::create_directories(std::filesystem::path(home.PortLink("COM7")).parent_path());
  std::filesystem::create_symlink("/nonexistent/adapter", home.PortLink("COM7"));
  c.TypeInto(IDC_PORT_COMBO, "com7");
  EXPECT_EQ(combo->toolTip(), "COM7 opens /nonexistent/adapter, not present now");
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(combo);
  ASSERT_NE(iface, nullptr);
  EXPECT_EQ(iface->text(QAccessible::Description), combo->toolTip());
  EXPECT_EQ(combo->count(), 11);
  // Renewed when the tip is about to show: the link changed meanwhile.
  std::filesystem::remove(home.PortLink("COM7"));
  std::filesystem::create_symlink("/dev/null", home.PortLink("COM7"));
  QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), combo->mapToGlobal(QPoint(2, 2)));
  QApplication::sendEvent(combo, &help);
  EXPECT_EQ(combo->toolTip(), "COM7 opens /dev/null");
}

TEST_F(ConsoleWindow, MessagesFromAnotherThreadArriveWhileAMessageBoxIsOpen) {
  auto& c = *con;
  c.C<QComboBox>(IDC_PORT_COMBO)->setFocus(Qt::TabFocusReason);
  QTest::keyClick(c.C(IDC_PORT_COMBO), Qt::Key_Up);  // "SELECT PORT"
  ASSERT_EQ(c.dlg.m_nSelPort, 0);

  std::atomic<bool> delivered{false};
  QString text, title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool ownerBlocked = false;
  QTimer::singleShot(0, [&] {
    QMessageBox* box = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          box = dynamic_cast<QMessageBox*>(QApplication::activeModalWidget());
          return box != nullptr;
        },
        kWaitMs));
    text = box->text();
    title = box->windowTitle();
    icon = box->icon();
    ownerBlocked = box->windowModality() != Qt::NonModal;
    std::jthread sender([&](std::stop_token stop) {
      delivered = c.dlg.SendMessageSync(WM_COMM_RECEIVE, 1, 0, stop);
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return delivered.load(); }, kWaitMs));
    sender.request_stop();
    sender.join();
    box->button(QMessageBox::Ok)->click();
  });
  c.Click(IDC_PORT_OPEN);
  EXPECT_TRUE(delivered);
  EXPECT_EQ(text, "Select Comport");
  EXPECT_EQ(title, QString::fromStdString(g_ui->AppName()));
  EXPECT_EQ(icon, QMessageBox::Warning);
  EXPECT_TRUE(ownerBlocked);
  EXPECT_FALSE(c.w->Ended());

  // A box whose text is to be copied (a path) lets it be selected, whatever the style's default.
  Qt::TextInteractionFlags flags;
  QTimer::singleShot(0, [&] {
    QMessageBox* box = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (box = dynamic_cast<QMessageBox*>(QApplication::activeModalWidget())); },
        kWaitMs));
    flags = box->textInteractionFlags();
    box->button(QMessageBox::Ok)->click();
  });
  (void)c.w->MessageBox("Cannot open /tmp/x", "t", MB_OK | MB_TEXTSELECTABLE);
  EXPECT_EQ(flags & (Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard),
            Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

TEST(ModalDialogs, TheConsoleRunsUntilClosedAndTheAboutBoxEndsWithOkFromItsButton) {
  CNibpDlg dlg(*g_ui);
  QTimer::singleShot(0, [] {
    QWidget* w = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (w = QApplication::activeModalWidget()) && w->isVisible(); }, kWaitMs));
    QTest::keyClick(w, Qt::Key_Escape);  // does nothing
    w->close();
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(dlg.GetWindow(), nullptr);

  CAboutDlg about(*g_ui);
  bool hangul = false;
  QTimer::singleShot(0, [&] {
    QWidget* w = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (w = QApplication::activeModalWidget()) && w->isVisible(); }, kWaitMs));
    // The Korean captions are drawn with a face that has their glyphs.
    const QFontMetrics fm(w->font());
    hangul = fm.inFontUcs4(U'정') && fm.inFontUcs4(U'확');
    auto* ok = w->findChild<QPushButton*>();
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "확인");
    QTest::mouseClick(ok, Qt::LeftButton);
  });
  EXPECT_EQ(about.DoModal(), IDOK);
  EXPECT_TRUE(hangul);
}

}  // namespace

int main(int argc, char** argv) {
  return testsupport::RunQtTests(argc, argv, g_ui);
}
