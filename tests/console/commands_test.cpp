// What each control does, driven as a user would through the headless window system.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/nibp_dlg.h"
#include "res/resource.h"
#include "support/console_fixture.h"
#include "support/headless.h"

namespace {

using fw::headless::HeadlessBackend;
using fw::headless::HeadlessWindow;

// The port is open: commands reach the line.
struct Commands : testsupport::HeadlessConsole {
  void SetUp() override {
    HeadlessConsole::SetUp();
    OpenPort();
  }
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
  // Commands change no control but the logs.
  EXPECT_EQ(w->GetText(IDC_PORT_STATUS), "COM1 OPEN");
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

// A typed value outside the up-down control's range never reaches the module.
TEST_F(Commands, TypedInflateIsTakenWhenTheEditLosesTheFocusAndOnlyWithinRange) {
  const struct {
    const char* typed;
    const char* raw;  // null: refused
    const char* event;
  } cases[] = {
      {"  45 mmHg", "PC --> MODULE <3A><17><2D><00><82>", "-- Set Initial Inflate to 45 --"},
      {"30", "PC --> MODULE <3A><17><1E><00><91>", "-- Set Initial Inflate to 30 --"},
      {"300", "PC --> MODULE <3A><17><2C><01><82>", "-- Set Initial Inflate to 300 --"},
      {"29", nullptr, nullptr},
      {"301", nullptr, nullptr},
      {"1000", nullptr, nullptr},
      {"70000", nullptr, nullptr},
      {"abc", nullptr, nullptr},
      {"", nullptr, nullptr},
      {"-5", nullptr, nullptr},
      {"99999999999", nullptr, nullptr},
      {"-99999999999", nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    const size_t raw = w->Lines(IDC_LIST_RAW).size();
    const size_t events = w->Lines(IDC_LIST_EVENT).size();
    const size_t boxes = ui.MessageBoxes().size();
    // Clicking the button takes the focus from the edit first.
    w->Type(IDC_INFLATE, c.typed);
    w->Click(IDC_SET_PRESSURE);
    EXPECT_EQ(w->GetText(IDC_INFLATE), c.typed);  // the edit keeps the text as typed
    if (c.raw != nullptr) {
      EXPECT_EQ(LastRaw(), c.raw);
      EXPECT_EQ(LastEvent(), c.event);
      continue;
    }
    EXPECT_EQ(w->Lines(IDC_LIST_RAW).size(), raw);
    EXPECT_EQ(w->Lines(IDC_LIST_EVENT).size(), events);
    ASSERT_EQ(ui.MessageBoxes().size(), boxes + 1);
    EXPECT_EQ(ui.MessageBoxes().back().text, "Enter a pressure from 30 to 300 mmHg.");
    EXPECT_EQ(ui.MessageBoxes().back().title, "QUIRAB_NIBP");
    EXPECT_EQ(ui.MessageBoxes().back().type & MB_ICONEXCLAMATION, MB_ICONEXCLAMATION);
    EXPECT_EQ(w->Focus(), IDC_INFLATE);
    EXPECT_EQ(w->SelectedAll(), IDC_INFLATE);
  }
}

TEST_F(Commands, UpDownStepsByOneAndWrapsWithUnsignedComparisons) {
  const struct {
    const char* typed;  // null: the start-up value
    int direction;
    int inflate;  // as printed with %d
  } cases[] = {
      {nullptr, +1, 161}, {nullptr, -1, 159}, {"30", -1, 300}, {"300", +1, 30},  {"10", +1, 11},
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
    EXPECT_EQ(static_cast<int>(d.m_nInflate), c.inflate)
        << (c.typed ? c.typed : "160") << " " << c.direction;
    w2->Click(IDC_SET_PRESSURE);
    if (c.inflate < 30) {  // stepped below the range from a typed value: refused
      EXPECT_TRUE(w2->Lines(IDC_LIST_EVENT).empty());
      EXPECT_EQ(ui2.MessageBoxes().size(), 1u);
      continue;
    }
    ASSERT_FALSE(w2->Lines(IDC_LIST_EVENT).empty());
    EXPECT_EQ(w2->Lines(IDC_LIST_EVENT).front(),
              "-- Set Initial Inflate to " + std::to_string(c.inflate) + " --");
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

  // CLOSE never stops the poll; what it sends then stays off the line and says so.
  w->Click(IDC_PORT_CLOSE);
  EXPECT_TRUE(w->TimerRunning(TIMER_PRESSURE_POLL));
  EXPECT_EQ(w->GetText(IDC_PORT_STATUS), "CLOSE");
  ASSERT_TRUE(w->FireTimer(TIMER_PRESSURE_POLL));
  EXPECT_EQ(w->Lines(IDC_LIST_RAW).size(), 3u);
  EXPECT_EQ(LastEvent(), "Not sent: port closed");
  w->Click(IDC_PORT_CLOSE);  // CLOSE while closed does nothing
  EXPECT_EQ(w->Lines(IDC_LIST_EVENT).size(), 5u);
  // Said once while closed, then quiet until the port is open again.
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(w->FireTimer(TIMER_PRESSURE_POLL));
  EXPECT_EQ(w->Lines(IDC_LIST_EVENT).size(), 5u);
  OpenPort();
  ASSERT_TRUE(w->FireTimer(TIMER_PRESSURE_POLL));
  EXPECT_EQ(LastEvent(), "-- Get Pressure --");
  EXPECT_EQ(w->Lines(IDC_LIST_RAW).size(), 4u);
  w->Click(IDC_PORT_CLOSE);
  ASSERT_TRUE(w->FireTimer(TIMER_PRESSURE_POLL));
  EXPECT_EQ(LastEvent(), "Not sent: port closed");
  EXPECT_EQ(w->Lines(IDC_LIST_EVENT).size(), 8u);

  w->Click(IDC_AUTO_PRESSURE);
  EXPECT_FALSE(w->TimerRunning(TIMER_PRESSURE_POLL));
  EXPECT_FALSE(w->IsEnabled(IDC_PRESSURE));
  EXPECT_EQ(w->GetText(IDC_PRESSURE), "  0 mmHg");  // one blank after the first switch-off
  EXPECT_EQ(w->Lines(IDC_LIST_EVENT).size(), 8u);
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

// The text in the port box is the port OPEN uses, typed or chosen from the list.
TEST(PortBox, TheTextShownIsThePortOpened) {
  const struct {
    const char* typed;  // null: choose item `item` from the list
    int item;
    const char* status;  // null: refused with "Select Comport"
  } cases[] = {
      {"COM7", 0, "COM7 OPEN"},  {" com12 ", 0, "COM12 OPEN"}, {"Com255", 0, "COM255 OPEN"},
      {nullptr, 4, "COM4 OPEN"}, {"COM0", 0, nullptr},         {"COM256", 0, nullptr},
      {"COM07", 0, nullptr},     {"COM 3", 0, nullptr},        {"", 0, nullptr},
      {nullptr, 0, nullptr},  // "SELECT PORT"
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed != nullptr ? c.typed : "from the list");
    auto os = std::make_shared<serial::FakePlatform>();
    HeadlessBackend ui;
    CNibpDlg dlg{ui, os};
    ASSERT_TRUE(dlg.Create());
    HeadlessWindow* w = ui.FindWindow(IDD_QUIRAB_NIBP_DIALOG);
    if (c.typed != nullptr) {
      w->SelectItem(IDC_PORT_COMBO, 2);  // typing overrides an earlier choice
      w->Type(IDC_PORT_COMBO, c.typed);
    } else {
      w->SelectItem(IDC_PORT_COMBO, c.item);
    }
    w->Click(IDC_PORT_OPEN);
    if (c.status == nullptr) {
      ASSERT_EQ(ui.MessageBoxes().size(), 1u);
      EXPECT_EQ(ui.MessageBoxes()[0].text, "Select Comport");
      EXPECT_EQ(ui.MessageBoxes()[0].title, "QUIRAB_NIBP");
      EXPECT_EQ(ui.MessageBoxes()[0].type & MB_ICONEXCLAMATION, MB_ICONEXCLAMATION);
      EXPECT_FALSE(dlg.m_comm.m_bConnected);
    } else {
      EXPECT_TRUE(ui.MessageBoxes().empty());
      EXPECT_EQ(w->GetText(IDC_PORT_STATUS), c.status);
      EXPECT_TRUE(dlg.m_comm.m_bConnected);
    }
  }
}

TEST_F(Commands, SendBytesGoesThroughTheLinkAsItIs) {
  views.sendBytes = std::vector<uint8_t>{0x3A, 0x79, 0x05, 0x00, 0x47};
  w->SysCommand(IDM_SEND_BYTES);
  EXPECT_EQ(LastRaw(), "PC --> MODULE <3A><79><05><00><47>");
  EXPECT_EQ(LastEvent(), "-- Sent 5 bytes --");
  EXPECT_EQ(Sent(), (std::vector<uint8_t>{0x3A, 0x79, 0x05, 0x00, 0x47}));
  EXPECT_TRUE(dlg.m_feed.Series().Markers().empty());  // no command
  views.sendBytes.reset();                             // cancelled
  w->SysCommand(IDM_SEND_BYTES);
  EXPECT_EQ(w->Lines(IDC_LIST_EVENT).size(), 1u);
}

TEST_F(Commands, OpenFailureSaysWhy) {
  w->Click(IDC_PORT_CLOSE);
  os->openResult = serial::Status::kNotFound;
  os->lastError = ENOENT;
  w->Type(IDC_PORT_COMBO, "COM4");
  w->Click(IDC_PORT_OPEN);
  ASSERT_EQ(ui.MessageBoxes().size(), 1u);
  EXPECT_EQ(ui.MessageBoxes()[0].text,
            "Com_Port 4 Open Fail\n" + CComm::DevicePath(4) + ": No such file or directory");
  // The event log (and so the session) keeps it.
  EXPECT_EQ(LastEvent(),
            "Com_Port 4 Open Fail: " + CComm::DevicePath(4) + ": No such file or directory");
  EXPECT_EQ(w->GetText(IDC_PORT_STATUS), "CLOSE");
}

// A command that puts nothing on the line has no raw line; its event line is followed by why.
TEST_F(Commands, NothingOnTheLineIsNeverLoggedAsSent) {
  const std::string getPressure = "PC --> MODULE <3A><79><05><00><48>";
  // The line stops taking output: commands queue whole, up to the output queue's size.
  os->Block(0);
  size_t queued = 0;
  while (dlg.m_comm.OutputQueued() + 5 <= kOutputQueueSize) {
    w->Click(IDC_GET_PRESSURE);
    ++queued;
    ASSERT_EQ(LastRaw(), getPressure);
  }
  const size_t rawBefore = w->Lines(IDC_LIST_RAW).size();
  w->Click(IDC_GET_PRESSURE);
  EXPECT_EQ(w->Lines(IDC_LIST_RAW).size(), rawBefore);
  EXPECT_EQ(LastEvent(), "Not sent: output full");
  // The peer reads again: every queued command arrives whole and in order.
  os->Drain();
  ASSERT_TRUE(
      w->RunUntil([&] { return dlg.m_comm.OutputQueued() == 0; }, std::chrono::seconds(10)));
  const std::vector<uint8_t> frame = {0x3A, 0x79, 0x05, 0x00, 0x48};
  std::vector<uint8_t> expected;
  for (size_t i = 0; i < queued; ++i) expected.insert(expected.end(), frame.begin(), frame.end());
  EXPECT_EQ(Sent(), expected);

  // Closed, then lost: the event line and the reason, never a raw line.
  w->Click(IDC_PORT_CLOSE);
  const size_t raw = w->Lines(IDC_LIST_RAW).size();
  w->Click(IDC_START_ADULT);
  EXPECT_EQ(Last(IDC_LIST_EVENT), "Not sent: port closed");
  OpenPort();
  os->HangUp();
  ASSERT_TRUE(w->RunUntil([&] { return w->GetText(IDC_PORT_STATUS) == "COM1 LOST"; },
                          std::chrono::seconds(10)));
  w->Click(IDC_ABORT_BP);
  EXPECT_EQ(w->Lines(IDC_LIST_RAW).size(), raw);
  const auto& events = w->Lines(IDC_LIST_EVENT);
  EXPECT_EQ(std::vector<std::string>(events.end() - 5, events.end()),
            (std::vector<std::string>{"-- Start Adult BP --", "Not sent: port closed", "COM1 LOST",
                                      "-- Abort BP --", "Not sent: port lost"}));
}

TEST_F(Commands, RepliesArrivingReplaceAnInflateTextNotYetTaken) {
  w->Type(IDC_INFLATE, "250");
  dlg.OnCommReceive(1, 0);  // a batch arrives while the edit still has the focus
  EXPECT_EQ(w->GetText(IDC_INFLATE), "160");
}

}  // namespace
