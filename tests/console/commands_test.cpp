// What each control does, driven as a user would through the headless window system.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/nibp_dlg.h"
#include "framework/headless/headless.h"
#include "support/console_fixture.h"
#include "res/resource.h"

namespace {

using fw::headless::HeadlessBackend;
using fw::headless::HeadlessWindow;

struct Commands : testsupport::HeadlessConsole {
  [[nodiscard]] std::string LastRaw() const { return Last(IDC_LIST_RAW); }
  [[nodiscard]] std::string LastEvent() const { return Last(IDC_LIST_EVENT); }
  [[nodiscard]] std::string Last(int id) const {
    const auto& lines = w->Lines(id);
    return lines.empty() ? "" : lines.back();
  }
  // Types into the inflate edit and leaves it, as a user tabbing away does.
  void TypeInflate(const std::string& text) {
    w->Type(IDC_INFLATE, text);
    w->SetFocus(IDC_PORT_OPEN);
  }
};

TEST_F(Commands, EachButtonSendsItsFrameAndLogsTwoLines) {
  const struct {
    int id;
    const char* raw;
    const char* event;
  } cases[] = {
      {IDC_SET_PRESSURE, "PC --> MODULE <3A><17><A0><00><0F>", "-- Set Initial Inflate to 160 --"},
      {IDC_START_ADULT, "PC --> MODULE <3A><20><A6>", "-- Start Adult BP --"},
      {IDC_START_NEONATE, "PC --> MODULE <3A><28><9E>", "-- Start Neonate BP --"},
      {IDC_START_PEDIATRIC, "PC --> MODULE <3A><87><3F>", "-- Start Pediatric BP --"},
      {IDC_ABORT_BP, "PC --> MODULE <3A><79><01><00><4C>", "-- Abort BP --"},
      {IDC_GET_PRESSURE, "PC --> MODULE <3A><79><05><00><48>", "-- Get Pressure --"},
      {IDC_GET_BP_DATA, "PC --> MODULE <3A><79><03><00><4A>", "-- Get BP Data --"},
  };
  size_t n = 0;
  for (const auto& c : cases) {
    w->Click(c.id);
    ++n;
    ASSERT_EQ(w->Lines(IDC_LIST_RAW).size(), n);
    ASSERT_EQ(w->Lines(IDC_LIST_EVENT).size(), n);
    EXPECT_EQ(LastRaw(), c.raw);
    EXPECT_EQ(LastEvent(), c.event);
    EXPECT_EQ(dlg.m_strTxLine, c.raw);
    // The newest line is made current so that it scrolls into view.
    EXPECT_EQ(w->CurSel(IDC_LIST_RAW), static_cast<int>(n) - 1);
    EXPECT_EQ(w->CurSel(IDC_LIST_EVENT), static_cast<int>(n) - 1);
  }
  // Commands change no control but the logs; the port was never opened.
  EXPECT_EQ(w->GetText(IDC_PORT_STATUS), "");
  EXPECT_TRUE(ui.MessageBoxes().empty());
}

TEST_F(Commands, PneumaticsSendsAllThreeSwitchesFromTheNewStates) {
  const struct {
    int click;
    const char* raw;
    const char* event;
  } steps[] = {
      {IDC_CONTROL_VALVE, "PC --> MODULE <3A><0C><00><01><00><B9>", "-- Closed Control Valve --"},
      {IDC_PUMP, "PC --> MODULE <3A><0C><01><01><00><B8>", "-- Start Pump --"},
      {IDC_CONTROL_VALVE, "PC --> MODULE <3A><0C><01><00><00><B9>", "-- open Control Valve --"},
      {IDC_DUMP_VALVE, "PC --> MODULE <3A><0C><01><00><01><B8>", "-- Closed Dump Valve --"},
      {IDC_CONTROL_VALVE, "PC --> MODULE <3A><0C><01><01><01><B7>", "-- Closed Control Valve --"},
      {IDC_PUMP, "PC --> MODULE <3A><0C><00><01><01><B8>", "-- Stop Pump --"},
      {IDC_DUMP_VALVE, "PC --> MODULE <3A><0C><00><01><00><B9>", "-- open Dump Valve --"},
  };
  for (const auto& s : steps) {
    w->Click(s.click);
    EXPECT_EQ(LastRaw(), s.raw);
    EXPECT_EQ(LastEvent(), s.event);
  }
  EXPECT_EQ(w->GetCheck(IDC_PUMP), 0);
  EXPECT_EQ(w->GetCheck(IDC_CONTROL_VALVE), 1);
  EXPECT_EQ(w->GetCheck(IDC_DUMP_VALVE), 0);
}

TEST_F(Commands, TypedInflateIsTakenWhenTheEditLosesTheFocus) {
  const struct {
    const char* typed;
    const char* raw;
    const char* event;
  } cases[] = {
      {"1000", "PC --> MODULE <3A><17><E8><03><C4>", "-- Set Initial Inflate to 1000 --"},
      {"abc", "PC --> MODULE <3A><17><00><00><AF>", "-- Set Initial Inflate to 0 --"},
      {"", "PC --> MODULE <3A><17><00><00><AF>", "-- Set Initial Inflate to 0 --"},
      {"  45 mmHg", "PC --> MODULE <3A><17><2D><00><82>", "-- Set Initial Inflate to 45 --"},
      {"-5", "PC --> MODULE <3A><17><FB><FF><B5>", "-- Set Initial Inflate to -5 --"},
      // Beyond the 32-bit range the number saturates instead of being undefined.
      {"99999999999", "PC --> MODULE <3A><17><FF><FF><B1>", "-- Set Initial Inflate to 2147483647 --"},
      {"-99999999999", "PC --> MODULE <3A><17><00><00><AF>", "-- Set Initial Inflate to -2147483648 --"},
  };
  for (const auto& c : cases) {
    // Clicking the button takes the focus from the edit first.
    w->Type(IDC_INFLATE, c.typed);
    w->Click(IDC_SET_PRESSURE);
    EXPECT_EQ(LastRaw(), c.raw) << c.typed;
    EXPECT_EQ(LastEvent(), c.event) << c.typed;
    EXPECT_EQ(w->GetText(IDC_INFLATE), c.typed);  // the edit keeps the text as typed
  }
}

TEST_F(Commands, UpDownStepsByOneAndWrapsWithUnsignedComparisons) {
  const struct {
    const char* typed;  // null: the start-up value
    int direction;
    int inflate;  // as printed with %d
  } cases[] = {
      {nullptr, +1, 161}, {nullptr, -1, 159}, {"30", -1, 300}, {"300", +1, 30}, {"10", +1, 11},
      {"10", -1, 300},    {"-5", +1, 30},     {"-5", -1, -6},  {"299", +1, 300}, {"31", -1, 30},
  };
  for (const auto& c : cases) {
    HeadlessBackend ui2;
    CNibpDlg d{ui2};
    ASSERT_TRUE(d.Create());
    auto* w2 = ui2.FindWindow(IDD_QUIRAB_NIBP_DIALOG);
    if (c.typed != nullptr) {
      w2->Type(IDC_INFLATE, c.typed);
      w2->SetFocus(IDC_PORT_OPEN);
    }
    w2->Spin(IDC_INFLATE_SPIN, c.direction);
    EXPECT_EQ(static_cast<int>(d.m_nInflate), c.inflate) << (c.typed ? c.typed : "160") << " " << c.direction;
    w2->Click(IDC_SET_PRESSURE);
    EXPECT_EQ(w2->Lines(IDC_LIST_EVENT).back(), "-- Set Initial Inflate to " + std::to_string(c.inflate) + " --");
  }
}

TEST_F(Commands, UpDownWritesItsPositionIntoTheEdit) {
  w->Spin(IDC_INFLATE_SPIN, +1);
  EXPECT_EQ(w->GetText(IDC_INFLATE), "161");
  EXPECT_EQ(dlg.m_strInflate, "160");  // taken before the control wrote its step
  w->Spin(IDC_INFLATE_SPIN, -1);
  w->Spin(IDC_INFLATE_SPIN, -1);
  EXPECT_EQ(w->GetText(IDC_INFLATE), "159");
  EXPECT_EQ(dlg.m_nInflate, 159u);
  TypeInflate("300");
  w->Spin(IDC_INFLATE_SPIN, +1);
  EXPECT_EQ(w->GetText(IDC_INFLATE), "30");
  EXPECT_EQ(dlg.m_nInflate, 30u);
  w->Spin(IDC_INFLATE_SPIN, -1);
  EXPECT_EQ(w->GetText(IDC_INFLATE), "300");
  EXPECT_EQ(dlg.m_nInflate, 300u);
}

TEST_F(Commands, AutoPressureDisplayPollsEvery250msUntilUnchecked) {
  w->Click(IDC_AUTO_PRESSURE);
  ASSERT_TRUE(w->TimerRunning(TIMER_PRESSURE_POLL));
  EXPECT_EQ(w->Timers().at(TIMER_PRESSURE_POLL), 250u);
  EXPECT_TRUE(w->IsEnabled(IDC_PRESSURE));
  EXPECT_TRUE(w->Lines(IDC_LIST_RAW).empty());  // the first poll comes one period later

  for (int i = 0; i < 3; ++i) ASSERT_TRUE(w->FireTimer(TIMER_PRESSURE_POLL));
  ASSERT_EQ(w->Lines(IDC_LIST_EVENT).size(), 3u);
  EXPECT_EQ(LastRaw(), "PC --> MODULE <3A><79><05><00><48>");
  EXPECT_EQ(LastEvent(), "-- Get Pressure --");

  // CLOSE while closed does nothing, and never stops the poll.
  w->Click(IDC_PORT_CLOSE);
  EXPECT_TRUE(w->TimerRunning(TIMER_PRESSURE_POLL));
  EXPECT_EQ(w->GetText(IDC_PORT_STATUS), "");

  w->Click(IDC_AUTO_PRESSURE);
  EXPECT_FALSE(w->TimerRunning(TIMER_PRESSURE_POLL));
  EXPECT_FALSE(w->IsEnabled(IDC_PRESSURE));
  EXPECT_EQ(w->GetText(IDC_PRESSURE), "  0 mmHg");  // one blank after the first switch-off
  EXPECT_EQ(w->Lines(IDC_LIST_EVENT).size(), 3u);
}

TEST_F(Commands, ClearDisplayEmptiesOnlyTheLogs) {
  dlg.m_clock = [] { return int64_t{1'796'000'000'000}; };
  w->Click(IDC_START_ADULT);
  w->Click(IDC_PUMP);
  w->Click(IDC_CLEAR_DISPLAY);
  // The chart's markers stay, stamped by the console's clock.
  ASSERT_EQ(dlg.m_feed.Series().Markers().size(), 2u);
  EXPECT_EQ(dlg.m_feed.Series().Markers()[1].label, "Start Pump");
  EXPECT_EQ(dlg.m_feed.Series().Markers()[1].ms, 1'796'000'000'000);
  EXPECT_TRUE(w->Lines(IDC_LIST_RAW).empty());
  EXPECT_TRUE(w->Lines(IDC_LIST_EVENT).empty());
  EXPECT_EQ(w->GetCheck(IDC_PUMP), 1);
  EXPECT_EQ(w->GetText(IDC_PRESSURE), "  0  mmHg");
  w->Click(IDC_GET_BP_DATA);
  EXPECT_EQ(w->Lines(IDC_LIST_RAW), std::vector<std::string>{"PC --> MODULE <3A><79><03><00><4A>"});
  EXPECT_EQ(w->Lines(IDC_LIST_EVENT), std::vector<std::string>{"-- Get BP Data --"});
}

TEST_F(Commands, PortSelectionComesOnlyFromTheList) {
  w->Type(IDC_PORT_COMBO, "COM7");
  EXPECT_EQ(dlg.m_nSelPort, 1);
  w->SelectItem(IDC_PORT_COMBO, 4);
  EXPECT_EQ(dlg.m_nSelPort, 4);
  w->SelectItem(IDC_PORT_COMBO, 0);
  EXPECT_EQ(dlg.m_nSelPort, 0);
  w->Click(IDC_PORT_OPEN);
  ASSERT_EQ(ui.MessageBoxes().size(), 1u);
  EXPECT_EQ(ui.MessageBoxes()[0].text, "Select Comport");
  EXPECT_EQ(ui.MessageBoxes()[0].title, "QUIRAB_NIBP");
  EXPECT_EQ(ui.MessageBoxes()[0].type & MB_ICONEXCLAMATION, MB_ICONEXCLAMATION);
  EXPECT_FALSE(dlg.m_comm.m_bConnected);
  EXPECT_EQ(dlg.m_comm.m_nPort, 0);  // refused before the settings are recorded
}

TEST_F(Commands, RepliesArrivingReplaceAnInflateTextNotYetTaken) {
  w->Type(IDC_INFLATE, "250");
  dlg.OnCommReceive(1, 0);  // a batch arrives while the edit still has the focus
  EXPECT_EQ(w->GetText(IDC_INFLATE), "160");
}

}  // namespace
