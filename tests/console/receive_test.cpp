// Replies from the module as the console shows them: bytes handed over by the reader, the two
// hidden diagnostic lines, the dispatch timer and the decoded log lines.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "console/nibp_dlg.h"
#include "protocol/frames.h"
#include "records/record_format.h"
#include "records/session.h"
#include "res/resource.h"
#include "support/console_fixture.h"
#include "support/fake_platform.h"
#include "support/headless.h"

namespace {

using fw::headless::HeadlessBackend;
using fw::headless::HeadlessWindow;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

const Bytes kCuff160 = {0x3E, 0x05, 0xA0, 0x00, 0x1D};
const Bytes kReplyK = {0x3E, 0x04, 0x4B, 0x73};
const Bytes kBpData = {0x3E, 0x16, 0x78, 0x00, 0x50, 0x00, 0x05, 0x02, 0x01, 0x02, 0x03,
                       0x04, 0x05, 0x06, 0x07, 0x08, 0x48, 0x00, 0x5D, 0x00, 0x01, 0x13};

struct Receive : testsupport::HeadlessConsole {
  // What the reader thread does for one read block, then the message it sends. `announced`
  // differs from the bytes stored when a test wants the two to disagree.
  void Deliver(const Bytes& bytes, int announced = -1) {
    for (uint8_t b : bytes) {
      dlg.m_comm.m_rxRing[dlg.m_comm.m_nRxWrite & 0x3FF] = b;
      ++dlg.m_comm.m_nRxWrite;
    }
    dlg.m_comm.m_dwLastRead =
        announced < 0 ? static_cast<uint32_t>(bytes.size()) : static_cast<uint32_t>(announced);
    EXPECT_EQ(dlg.OnCommReceive(1, 0), 1);
  }
  bool DispatchRuns() const { return w->TimerRunning(TIMER_REPLY_DISPATCH); }
  const Lines& Raw() const { return w->Lines(IDC_LIST_RAW); }
  const Lines& Events() const { return w->Lines(IDC_LIST_EVENT); }
};

TEST_F(Receive, SplitCuffPressureIsShownAtTheNextTickAndTheTimerStopsAfter) {
  Deliver({0x3E, 0x05});
  EXPECT_EQ(w->GetText(IDC_RX_HEX), "3e 05 ");
  EXPECT_EQ(w->GetText(IDC_RX_CHECK), "");
  EXPECT_FALSE(DispatchRuns());

  Deliver({0xA0, 0x00, 0x1D});
  EXPECT_EQ(w->GetText(IDC_RX_HEX), "3e 05 a0 00 1d ");
  EXPECT_EQ(w->GetText(IDC_RX_CHECK), "3e 05 a0 00 1d checksum good 1d ");
  ASSERT_TRUE(DispatchRuns());
  EXPECT_EQ(w->Timers().at(TIMER_REPLY_DISPATCH), 20u);
  EXPECT_TRUE(Raw().empty());  // nothing is logged before the tick

  ASSERT_TRUE(w->FireTimer(TIMER_REPLY_DISPATCH));
  EXPECT_EQ(Raw(), Lines{"PC <-- MODULE <3E><05><A0><00><1D>"});
  EXPECT_EQ(Events(), Lines{"Cuff pressure: 160"});
  EXPECT_EQ(w->CurSel(IDC_LIST_RAW), 0);
  EXPECT_EQ(w->CurSel(IDC_LIST_EVENT), 0);
  EXPECT_EQ(w->GetText(IDC_PRESSURE), "  0  mmHg");  // not checked: the start-up text stays
  EXPECT_TRUE(DispatchRuns());

  ASSERT_TRUE(w->FireTimer(TIMER_REPLY_DISPATCH));
  EXPECT_FALSE(DispatchRuns());
  EXPECT_EQ(Raw().size(), 1u);
  EXPECT_EQ(Events().size(), 1u);
}

TEST_F(Receive, PressureLineFollowsTheCuffPressureOnlyWhileAutoDisplayIsChecked) {
  const struct {
    bool autoDisplay;
    Bytes frame;
    std::string pressure;
  } cases[] = {
      {true, kCuff160, "160 mmHg"},
      {true, {0x3E, 0x05, 0x05, 0x00, 0xB8}, "  5 mmHg"},
      {true, {0x3E, 0x05, 0xFF, 0xFF, 0xBF}, "65535 mmHg"},
      {false, {0x3E, 0x05, 0x05, 0x00, 0xB8}, "  0 mmHg"},  // the text of the switch-off
  };
  for (const auto& c : cases) {
    if ((w->GetCheck(IDC_AUTO_PRESSURE) == 1) != c.autoDisplay) w->Click(IDC_AUTO_PRESSURE);
    Deliver(c.frame);
    ASSERT_TRUE(w->FireTimer(TIMER_REPLY_DISPATCH));
    EXPECT_EQ(w->GetText(IDC_PRESSURE), c.pressure);
    EXPECT_EQ(w->TimerRunning(TIMER_PRESSURE_POLL), c.autoDisplay);
  }
  // Raw and event lines are the same whichever state the box is in.
  EXPECT_EQ(Events(), (Lines{"Cuff pressure: 160", "Cuff pressure: 5", "Cuff pressure: 65535",
                             "Cuff pressure: 5"}));
  EXPECT_EQ(Raw().back(), "PC <-- MODULE <3E><05><05><00><B8>");
}

// What the console says beyond the replies, each once: silence and its return, a measurement's
// end, a cuff too high with the pump running. Each step adds exactly these event lines.
TEST_F(Receive, BenchNoticesAreToldOnce) {
  int64_t now = 1'796'000'000'000;
  dlg.m_clock = [&] { return now; };
  OpenPort();
  const auto cuff = [&](uint16_t mmHg) {
    Bytes f = {0x3E, 0x05, static_cast<uint8_t>(mmHg & 0xFF), static_cast<uint8_t>(mmHg >> 8)};
    f.push_back(protocol::Checksum(f));
    Deliver(f);
    ASSERT_TRUE(w->FireTimer(TIMER_REPLY_DISPATCH));
  };
  const auto later = [&](int64_t ms) {
    now += ms;
    if (w->TimerRunning(TIMER_SILENCE)) {
      ASSERT_TRUE(w->FireTimer(TIMER_SILENCE));
    }
  };
  const int64_t asked = now;
  const struct {
    const char* what;
    std::function<void()> act;
    Lines added;
  } steps[] = {
      {"asked", [&] { w->Click(IDC_GET_PRESSURE); }, {"-- Get Pressure --"}},
      {"within the second", [&] { later(999); }, {}},
      {"a second", [&] { later(1); }, {"No reply from the module"}},
      {"asked again",
       [&] {
         w->Click(IDC_GET_BP_DATA);
         later(5000);
       },
       {"-- Get BP Data --"}},
      {"a reply", [&] { cuff(160); }, {"Cuff pressure: 160", "Replies again"}},
      {"start", [&] { w->Click(IDC_START_ADULT); }, {"-- Start Adult BP --"}},
      {"inflated",
       [&] {
         now += 10'000;
         cuff(150);
       },
       {"Cuff pressure: 150"}},
      {"deflated",
       [&] {
         now += 20'000;
         cuff(3);
       },
       {"Cuff pressure: 3"}},
      {"a second down",
       [&] {
         now += 1'000;
         cuff(3);
       },
       {"Cuff pressure: 3", "Measurement done (31 s)"}},
      {"after the end",
       [&] {
         now += 1'000;
         cuff(2);
       },
       {"Cuff pressure: 2"}},
      {"pump", [&] { w->Click(IDC_PUMP); }, {"-- Start Pump --"}},
      {"at 300",
       [&] { cuff(300); },
       {"Cuff pressure: 300", "Safety: cuff at 300 mmHg with the pump running"}},
      {"higher", [&] { cuff(310); }, {"Cuff pressure: 310"}},
      {"not below 280", [&] { cuff(280); }, {"Cuff pressure: 280"}},
      {"up again", [&] { cuff(305); }, {"Cuff pressure: 305"}},
      {"below 280", [&] { cuff(279); }, {"Cuff pressure: 279"}},
      {"over again",
       [&] { cuff(301); },
       {"Cuff pressure: 301", "Safety: cuff at 301 mmHg with the pump running"}},
      {"pump off",
       [&] {
         w->Click(IDC_PUMP);
         cuff(279);
         cuff(320);
       },
       {"-- Stop Pump --", "Cuff pressure: 279", "Cuff pressure: 320"}},
  };
  for (const auto& step : steps) {
    const size_t before = Events().size();
    step.act();
    EXPECT_EQ(Lines(Events().begin() + static_cast<long>(before), Events().end()), step.added)
        << step.what;
    if (std::string(step.what) == "a second") {
      EXPECT_FALSE(w->IsEnabled(IDC_PRESSURE));
      EXPECT_EQ(w->Tip(IDC_PRESSURE),
                "no reply since " + records::TimeOfDayLocal(asked).substr(0, 8));
    }
  }
  EXPECT_EQ(w->Tip(IDC_PRESSURE), "");
  // A closed port: the last reading stays, greyed, until the port is open again.
  const bool live = w->IsEnabled(IDC_PRESSURE);
  w->Click(IDC_PORT_CLOSE);
  EXPECT_FALSE(w->IsEnabled(IDC_PRESSURE));
  EXPECT_EQ(w->Tip(IDC_PRESSURE), "port closed");
  OpenPort();
  EXPECT_EQ(w->IsEnabled(IDC_PRESSURE), live);
  EXPECT_EQ(w->Tip(IDC_PRESSURE), "");
  EXPECT_EQ(w->Tip(IDC_PUMP), "Checked: pump running");
  EXPECT_EQ(w->Tip(IDC_DUMP_VALVE), "Checked: valve closed, unchecked: open");
}

// With "Fetch Result When Done" (kept for the next start) the result is asked for at the end;
// "Hide Poll Lines" keeps the poll out of the event log, not out of the raw log.
TEST_F(Receive, FetchResultWhenDoneAndHidePollLines) {
  int64_t now = 1'796'000'000'000;
  dlg.m_clock = [&] { return now; };
  OpenPort();
  w->SysCommand(IDM_FETCH_RESULT);
  EXPECT_TRUE(records::LoadChoice(dlg.m_configFolder, "fetch_result", false));
  w->ChooseListMenuItem(IDC_LIST_EVENT, ID_EVENT_HIDE_POLL);
  w->Click(IDC_AUTO_PRESSURE);
  w->Click(IDC_START_ADULT);
  ASSERT_TRUE(w->FireTimer(TIMER_PRESSURE_POLL));
  EXPECT_EQ(Raw().back(), "PC --> MODULE <3A><79><05><00><48>");
  for (const uint8_t mmHg : {150, 3, 3}) {
    Bytes f = {0x3E, 0x05, mmHg, 0x00};
    f.push_back(protocol::Checksum(f));
    Deliver(f);
    ASSERT_TRUE(w->FireTimer(TIMER_REPLY_DISPATCH));
    now += 1'000;
  }
  EXPECT_EQ(Events(),
            (Lines{"-- Start Adult BP --", "Measurement done (2 s)", "-- Get BP Data --"}));
  EXPECT_EQ(Raw().back(), "PC --> MODULE <3A><79><03><00><4A>");
}

TEST_F(Receive, FramesOfEachLengthDecodeIntoTheEventLog) {
  Deliver(kReplyK);
  Deliver(kBpData);
  EXPECT_EQ(w->GetText(IDC_RX_CHECK),
            "3e 16 78 00 50 00 05 02 01 02 03 04 05 06 07 08 48 00 5d 00 01 13 checksum good 13 ");
  while (DispatchRuns()) ASSERT_TRUE(w->FireTimer(TIMER_REPLY_DISPATCH));
  EXPECT_EQ(Raw(), (Lines{"PC <-- MODULE <3E><04><4B><73>",
                          "PC <-- MODULE "
                          "<3E><16><78><00><50><00><05><02><01><02><03><04><05><06><07><08><48><00>"
                          "<5D><00><01><13>"}));
  EXPECT_EQ(Events(), (Lines{"Reply: K", "BP Data: 120 / 80 mmHg Heart: 72  MAP: 93",
                             "TC: 01 02 03 04 05 06 07 08 ", "SQ: 5  Err: 1  Status: 2"}));
  EXPECT_EQ(w->CurSel(IDC_LIST_EVENT), 3);
  // The result also became a row and a marker, at the console's clock.
  ASSERT_EQ(dlg.m_feed.Results().Rows().size(), 1u);
  EXPECT_EQ(dlg.m_feed.Results().Rows()[0].map, 93);
  EXPECT_EQ(dlg.m_feed.Series().Markers().back().label, "120/80");
}

// Bad frames and noise leave the logs as they are unless the raw log is asked to show them.
TEST_F(Receive, BadFramesAndNoiseShowOnlyWhenAsked) {
  for (const BOOL show : {0, 1}) {
    SCOPED_TRACE(show);
    dlg.m_bShowBadFrames = show;
    w->Click(IDC_CLEAR_DISPLAY);
    Deliver({0x3E, 0x05, 0xA0, 0x00, 0x1E, 0x07, 0x08});
    EXPECT_EQ(w->GetText(IDC_RX_CHECK), "3e 05 a0 00 1e checksum error sparesum=e3 checksum=1d ");
    Deliver(kReplyK);
    while (DispatchRuns()) ASSERT_TRUE(w->FireTimer(TIMER_REPLY_DISPATCH));
    const Lines bad = {"PC <-- MODULE <3E><05><A0><00><1E> checksum error",
                       "PC <-- MODULE <07><08> dropped", "PC <-- MODULE <3E><04><4B><73>"};
    EXPECT_EQ(Raw(), show == 1 ? bad : Lines{bad.back()});
    EXPECT_EQ(Events(), Lines{"Reply: K"});
  }
}

// Frames closer together than the dispatch period, for seconds: the first one starts the timer,
// the rest never restart it, and each tick shows everything that came.
TEST_F(Receive, FastFramesNeverHoldTheDisplayOff) {
  size_t shown = 0;
  for (int tick = 0; tick < 500; ++tick) {  // 10 s of 20 ms ticks, four frames each
    for (int k = 0; k < 4; ++k) Deliver(kCuff160);
    ASSERT_TRUE(w->FireTimer(TIMER_REPLY_DISPATCH));
    shown += 4;
    ASSERT_EQ(Events().size(), shown);
  }
  EXPECT_EQ(w->TimerSets(TIMER_REPLY_DISPATCH), 1u);
}

TEST_F(Receive, ANoticeTakesEverythingTheRingHoldsWhateverCountItAnnounced) {
  // The hand-over coalesces: one notice stands for every block stored before it is handled.
  Deliver(kCuff160, 9);
  EXPECT_EQ(w->GetText(IDC_RX_HEX), "3e 05 a0 00 1d ");
  Deliver({0x3E, 0x04, 0x4B, 0x73}, 2);
  EXPECT_EQ(w->GetText(IDC_RX_HEX), "3e 04 4b 73 ");
  Deliver({}, 2);
  EXPECT_EQ(w->GetText(IDC_RX_HEX), "3e 04 4b 73 ");
  EXPECT_EQ(dlg.m_rx.View().replyCount, 0u);
}

TEST_F(Receive, TypedButUntakenInflateTextIsReplacedWhenAMessageArrives) {
  for (const Bytes& batch : {Bytes{0x01}, Bytes{}}) {  // an empty message refreshes too
    w->Type(IDC_INFLATE, "77");
    ASSERT_EQ(w->GetText(IDC_INFLATE), "77");
    Deliver(batch);
    EXPECT_EQ(w->GetText(IDC_INFLATE), "160");
    EXPECT_EQ(dlg.m_nInflate, 160u);
  }
}

TEST_F(Receive, ClearDisplayKeepsAHalfFrameAndTheParkedOnes) {
  Deliver(kCuff160);
  Deliver({0x3E, 0x04});
  w->Click(IDC_CLEAR_DISPLAY);
  Deliver({0x4B, 0x73});
  ASSERT_TRUE(w->FireTimer(TIMER_REPLY_DISPATCH));
  ASSERT_TRUE(w->FireTimer(TIMER_REPLY_DISPATCH));
  EXPECT_EQ(Events(), (Lines{"Cuff pressure: 160", "Reply: K"}));
}

// The close purges the rest of a frame the reader had begun: the first frame after the reopen
// must not be taken for that rest. The head was either taken by the window before the close, or
// still waited in a hand-over that the close withdrew.
TEST(ReceiveAcrossReopen, FrameCutShortByTheCloseDoesNotSwallowTheNextOne) {
  using namespace std::chrono_literals;
  for (const bool takenBeforeClose : {true, false}) {
    SCOPED_TRACE(takenBeforeClose ? "head taken" : "head withdrawn");
    auto os = std::make_shared<serial::FakePlatform>();
    HeadlessBackend ui;
    CNibpDlg dlg(ui, os);
    ASSERT_TRUE(dlg.Create());
    HeadlessWindow* w = ui.FindWindow(IDD_QUIRAB_NIBP_DIALOG);
    w->SelectItem(IDC_PORT_COMBO, 1);
    w->Click(IDC_PORT_OPEN);
    ASSERT_TRUE(dlg.m_comm.m_bConnected);

    os->Feed({0x3E, 0x05, 0xA0});
    if (takenBeforeClose) {
      ASSERT_TRUE(w->RunUntil([&] { return dlg.m_rx.View().framePos == 3; }, 10s));
    } else {
      // No pumping: the reader stores the head and waits in the hand-over.
      const auto end = std::chrono::steady_clock::now() + 10s;
      while (dlg.m_comm.m_nRxWrite != 3 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(1ms);
      }
      ASSERT_EQ(dlg.m_comm.m_nRxWrite, 3u);
    }
    w->Click(IDC_PORT_CLOSE);
    w->Click(IDC_PORT_OPEN);
    ASSERT_TRUE(dlg.m_comm.m_bConnected);
    os->Feed(kCuff160);
    ASSERT_TRUE(w->RunUntil([&] { return !w->Lines(IDC_LIST_EVENT).empty(); }, 10s));
    EXPECT_EQ(w->Lines(IDC_LIST_EVENT), Lines{"Cuff pressure: 160"});
    dlg.OnPortClose();
  }
}

// A device that goes away is shown as lost within a message, tried again every tick of the reopen
// timer, and taken back with the poll still running; nothing is left over across many losses.
TEST_F(Receive, LostDeviceIsShownAndTakenBackEveryTime) {
  using namespace std::chrono_literals;
  OpenPort();
  w->Click(IDC_AUTO_PRESSURE);
  for (int i = 0; i < 1000; ++i) {
    os->HangUp();
    while (w->GetText(IDC_PORT_STATUS) != "COM1 LOST") ASSERT_TRUE(w->PumpPosted(10s));
    ASSERT_EQ(Events().back(), "COM1 LOST");
    os->openResult = serial::Status::kNotFound;  // still unplugged at the first try
    ASSERT_TRUE(w->FireTimer(TIMER_REOPEN));
    ASSERT_EQ(w->GetText(IDC_PORT_STATUS), "COM1 LOST");
    os->openResult = serial::Status::kOk;
    os->Replug();
    ASSERT_TRUE(w->FireTimer(TIMER_REOPEN));
    ASSERT_EQ(w->GetText(IDC_PORT_STATUS), "COM1 OPEN");
    ASSERT_EQ(Events().back(), "COM1 OPEN");
    ASSERT_FALSE(w->TimerRunning(TIMER_REOPEN));
  }
  EXPECT_EQ(Events().size(), 2000u);
  EXPECT_TRUE(ui.MessageBoxes().empty());
  ASSERT_TRUE(w->FireTimer(TIMER_PRESSURE_POLL));
  EXPECT_EQ(Raw().back(), "PC --> MODULE <3A><79><05><00><48>");
  os->Feed(kCuff160);
  ASSERT_TRUE(w->RunUntil([&] { return Events().back() == "Cuff pressure: 160"; }, 10s));

  // CLOSE while lost stops the attempts; OPEN while lost is OPEN while open.
  os->HangUp();
  while (w->GetText(IDC_PORT_STATUS) != "COM1 LOST") ASSERT_TRUE(w->PumpPosted(10s));
  w->Click(IDC_PORT_OPEN);
  ASSERT_EQ(ui.MessageBoxes().size(), 1u);
  EXPECT_EQ(ui.MessageBoxes()[0].text, "Comport  is already used.");
  w->Click(IDC_PORT_CLOSE);
  EXPECT_EQ(w->GetText(IDC_PORT_STATUS), "CLOSE");
  EXPECT_FALSE(w->TimerRunning(TIMER_REOPEN));
  EXPECT_FALSE(dlg.m_comm.m_bConnected);
  EXPECT_EQ(os->BadHandleUses(), 0u);
}

}  // namespace
