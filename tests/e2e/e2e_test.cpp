// The console (headless window, real serial port) against the simulated module on a pty.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "console/nibp_dlg.h"
#include "records/record_format.h"
#include "res/resource.h"
#include "support/headless.h"
#include "support/raw_line.h"
#include "support/sim_process.h"

namespace {

using namespace std::chrono_literals;
using fw::headless::HeadlessBackend;
using fw::headless::HeadlessWindow;
using testsupport::SimProcess;
using testsupport::TempConfigHome;

struct EndToEnd : ::testing::Test {
  TempConfigHome home;
  std::string sentLog = home.Dir() + "/sent.log";
  std::unique_ptr<SimProcess> sim;
  HeadlessBackend ui;
  std::unique_ptr<CNibpDlg> dlg;
  HeadlessWindow* w = nullptr;

  void StartSim(std::vector<std::string> extra) {
    std::vector<std::string> args = {"--port", "COM1",   "--quiet", "--log-sent",
                                     sentLog,  "--seed", "7"};
    args.insert(args.end(), extra.begin(), extra.end());
    sim = std::make_unique<SimProcess>(NIBP_SIM_PATH, args);
    ASSERT_TRUE(sim->Running());
    ASSERT_TRUE(SimProcess::WaitForPath(home.PortLink("COM1"), 10s));
  }
  void OpenConsole() {
    dlg = std::make_unique<CNibpDlg>(ui);
    dlg->m_sessionsFolder = home.Dir() + "/sessions";
    dlg->m_configFolder = home.Dir() + "/quirab_nibp";
    ASSERT_TRUE(dlg->Create());
    w = ui.FindWindow(IDD_QUIRAB_NIBP_DIALOG);
    w->Click(IDC_PORT_OPEN);
    ASSERT_TRUE(ui.MessageBoxes().empty()) << ui.MessageBoxes()[0].text;
    ASSERT_EQ(w->GetText(IDC_PORT_STATUS), "COM1 OPEN");
  }
  void TearDown() override {
    dlg.reset();  // closes the port before the simulator goes
    // Exit status 0 only: a sanitizer's finding in the simulator ends it with an error.
    if (sim) {
      EXPECT_EQ(sim->Stop(), 0) << "the simulator ended with an error";
    }
  }
  [[nodiscard]] std::vector<std::string> Received() const {
    std::vector<std::string> out;
    for (const auto& l : w->Lines(IDC_LIST_RAW)) {
      if (l.rfind("PC <-- MODULE ", 0) == 0) out.push_back(testsupport::RawLineToHex(l));
    }
    return out;
  }
  [[nodiscard]] bool EventSeen(const std::string& prefix) const {
    const auto& lines = w->Lines(IDC_LIST_EVENT);
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  }
  // The decoded lines the shown frames must have produced, and nothing else.
  void ExpectEventLogMatchesRawLog() const {
    size_t decoded = 0, expected = 0;
    for (const auto& l : w->Lines(IDC_LIST_EVENT)) {
      if (l.rfind("-- ", 0) != 0) ++decoded;
    }
    for (const auto& f : Received()) {
      const size_t bytes = (f.size() + 1) / 3;
      expected += (bytes == 4 || bytes == 5) ? 1 : 3;
    }
    EXPECT_EQ(decoded, expected);
  }
};

TEST_F(EndToEnd, OpensComOneAndDecodesReplies) {
  StartSim({});
  OpenConsole();
  w->Click(IDC_GET_PRESSURE);
  w->Click(IDC_SET_PRESSURE);
  ASSERT_TRUE(
      w->RunUntil([&] { return EventSeen("Reply: ") && EventSeen("Cuff pressure: "); }, 10s));
  EXPECT_EQ(Received().front(), "3e 05 00 00 bd");
  ExpectEventLogMatchesRawLog();
}

TEST_F(EndToEnd, MeasurementInflatesToTheSetPressureThenGivesTheResult) {
  StartSim({"--speed", "20", "--systolic", "120", "--diastolic", "80", "--heart-rate", "72"});
  OpenConsole();
  w->Type(IDC_INFLATE, "180");
  w->Click(IDC_SET_PRESSURE);
  EXPECT_EQ(w->Lines(IDC_LIST_EVENT).back(), "-- Set Initial Inflate to 180 --");
  w->Click(IDC_AUTO_PRESSURE);
  w->Click(IDC_START_ADULT);

  // The pressure line follows the cuff up and down. The thresholds leave several polls of
  // margin, so a slow machine cannot miss them; the exact top is read from TC below.
  int highest = 0;
  ASSERT_TRUE(w->RunUntil(
      [&] {
        const int p = std::atoi(dlg->m_strPressure.c_str());
        highest = std::max(highest, p);
        return highest >= 100 && p < 40;
      },
      60s))
      << "highest shown " << highest;
  EXPECT_LE(highest, 200);

  w->Click(IDC_AUTO_PRESSURE);
  ASSERT_TRUE(w->RunUntil(
      [&] {
        if (EventSeen("BP Data: 120 / 80 mmHg Heart: 72  MAP: 93")) return true;
        if (!w->TimerRunning(TIMER_REPLY_DISPATCH)) w->Click(IDC_GET_BP_DATA);
        return false;
      },
      30s));
  // TC: duration, then the highest pressure of the measurement (16 bits, low byte first).
  const auto& events = w->Lines(IDC_LIST_EVENT);
  const auto bp =
      std::find(events.begin(), events.end(), "BP Data: 120 / 80 mmHg Heart: 72  MAP: 93");
  ASSERT_LT(std::next(bp), events.end());
  const std::string& tc = *std::next(bp);
  ASSERT_EQ(tc.rfind("TC: ", 0), 0u) << tc;
  const unsigned top =
      std::stoul(tc.substr(10, 2), nullptr, 16) | std::stoul(tc.substr(13, 2), nullptr, 16) << 8;
  EXPECT_GE(top, 180u) << tc;
  EXPECT_LE(top, 190u) << tc;

  // The session file holds both logs line by line, in order, and the status.
  ASSERT_NE(dlg->Session(), nullptr);
  dlg->Session()->Flush();
  std::vector<std::string> raw, event, status;
  std::ifstream in(dlg->Session()->Path());
  for (std::string line; std::getline(in, line);) {
    const auto r = records::ParseRecord(line);
    ASSERT_TRUE(r.has_value()) << line;
    if (r->tag == records::Tag::kRaw) raw.push_back(r->text);
    if (r->tag == records::Tag::kEvent) event.push_back(r->text);
    if (r->tag == records::Tag::kStatus) status.push_back(r->text);
  }
  EXPECT_EQ(raw, w->Lines(IDC_LIST_RAW));
  EXPECT_EQ(event, w->Lines(IDC_LIST_EVENT));
  EXPECT_EQ(status, std::vector<std::string>{"COM1 OPEN"});
}

TEST_F(EndToEnd, UnderFaultsEveryGoodFrameIsShownOnceInOrder) {
  StartSim({"--fragment", "--noise", "0.3", "--corrupt", "0.2"});
  OpenConsole();
  w->Click(IDC_AUTO_PRESSURE);
  w->RunFor(3s);
  w->Click(IDC_AUTO_PRESSURE);
  // Quiet: everything the simulator sent has arrived and been shown.
  size_t sent = 0;
  ASSERT_TRUE(w->RunUntil(
      [&] {
        sent = testsupport::ReadLines(sentLog).size();
        return sent > 0 && Received().size() >= sent && !w->TimerRunning(TIMER_REPLY_DISPATCH);
      },
      15s))
      << Received().size() << " shown of " << sent;
  EXPECT_EQ(Received(), testsupport::ReadLines(sentLog));
  ExpectEventLogMatchesRawLog();

  // The session holds the raw log as shown, and the corrupted frames and the noise besides.
  dlg->Session()->Flush();
  std::vector<std::string> raw;
  size_t bad = 0, dropped = 0;
  std::ifstream in(dlg->Session()->Path());
  for (std::string line; std::getline(in, line);) {
    const auto r = records::ParseRecord(line);
    ASSERT_TRUE(r.has_value()) << line;
    if (r->tag == records::Tag::kRaw) raw.push_back(r->text);
    bad += r->tag == records::Tag::kBad ? 1 : 0;
    dropped += r->tag == records::Tag::kDropped ? 1 : 0;
    if (r->tag == records::Tag::kBad || r->tag == records::Tag::kDropped) {
      EXPECT_EQ(r->text.rfind("PC <-- MODULE <", 0), 0u) << line;
    }
  }
  EXPECT_EQ(raw, w->Lines(IDC_LIST_RAW));
  EXPECT_GT(bad, 0u);
  EXPECT_GT(dropped, 0u);
}

// Unasked frames, however fast they come (numbered, so that a lost, repeated or swapped one shows).
struct Unasked {
  std::vector<std::string> args;
  size_t frames;  // shown before the check
};
struct UnaskedFrames : EndToEnd, ::testing::WithParamInterface<Unasked> {};
INSTANTIATE_TEST_SUITE_P(
    Rates, UnaskedFrames,
    ::testing::Values(Unasked{{"--stream", "20", "--fragment", "--noise", "0.2"}, 40},
                      Unasked{{"--stream", "190", "--numbered"}, 400},
                      Unasked{{"--burst", "5000", "--numbered"}, 5001}));

TEST_P(UnaskedFrames, AreShownInOrderWithoutDuplicates) {
  StartSim(GetParam().args);
  OpenConsole();
  w->Click(IDC_GET_PRESSURE);  // the module streams once it has heard from the console
  // Its own line and the frames.
  ASSERT_TRUE(w->RunUntil([&] { return w->Lines(IDC_LIST_RAW).size() > GetParam().frames; }, 20s));
  const auto shown = Received();
  const auto sent = testsupport::ReadLines(sentLog);
  ASSERT_LE(shown.size(), sent.size());
  // What was shown is exactly what was sent first; only frames still in flight are missing.
  EXPECT_TRUE(std::equal(shown.begin(), shown.end(), sent.begin()));
  ExpectEventLogMatchesRawLog();
}

// The device hangs up and comes back under a new node: the console shows the loss, takes the
// device back by itself, and the poll's replies flow again; CLOSE and OPEN still work after.
TEST_F(EndToEnd, LostDeviceIsShownAndTakenBack) {
  StartSim({"--hangup-after", "1", "--reopen"});
  OpenConsole();
  w->Click(IDC_AUTO_PRESSURE);
  ASSERT_TRUE(w->RunUntil([&] { return EventSeen("COM1 LOST"); }, 10s));
  ASSERT_TRUE(w->RunUntil([&] { return EventSeen("COM1 OPEN"); }, 10s));
  EXPECT_EQ(w->GetText(IDC_PORT_STATUS), "COM1 OPEN");
  w->Click(IDC_CLEAR_DISPLAY);
  EXPECT_TRUE(w->RunUntil([&] { return EventSeen("Cuff pressure: "); }, 10s));

  w->Click(IDC_PORT_CLOSE);
  EXPECT_EQ(w->GetText(IDC_PORT_STATUS), "CLOSE");
  w->Click(IDC_AUTO_PRESSURE);
  w->Click(IDC_CLEAR_DISPLAY);
  w->Click(IDC_PORT_OPEN);
  ASSERT_TRUE(ui.MessageBoxes().empty());
  EXPECT_EQ(w->GetText(IDC_PORT_STATUS), "COM1 OPEN");
  w->Click(IDC_GET_PRESSURE);
  EXPECT_TRUE(w->RunUntil([&] { return EventSeen("Cuff pressure: "); }, 10s));
}

// What a console received, in its saved raw log or in its session file, played by the simulator
// into a second console, arrives there again, frame for frame; the second console's commands
// change nothing.
TEST_F(EndToEnd, ASavedRawLogOrASessionReplaysIntoTheNextConsole) {
  for (const bool session : {false, true}) {
    SCOPED_TRACE(session ? "session file" : "saved raw log");
    StartSim({"--stream", "10"});
    OpenConsole();
    w->Click(IDC_GET_BP_DATA);
    ASSERT_TRUE(w->RunUntil([&] { return Received().size() >= 12; }, 20s));
    const auto recorded = Received();
    const std::string file = home.Dir() + (session ? "/day.session" : "/raw.txt");
    if (session) {
      dlg->Session()->Flush();
      std::filesystem::copy_file(dlg->Session()->Path(), file);
    } else {
      ui.onSaveFileName = [&](std::string_view, std::string_view) { return file; };
      w->ChooseListMenuItem(IDC_LIST_RAW, ID_RAW_SAVE_AS);
      ASSERT_TRUE(ui.MessageBoxes().empty()) << ui.MessageBoxes()[0].text;
    }
    dlg.reset();
    EXPECT_EQ(sim->Stop(), 0);

    StartSim({"--replay", file, "--speed", "4"});
    OpenConsole();
    w->Click(IDC_START_ADULT);
    ASSERT_TRUE(w->RunUntil([&] { return Received().size() >= recorded.size(); }, 20s));
    w->RunFor(200ms);
    EXPECT_EQ(Received(), recorded);
    dlg.reset();
    EXPECT_EQ(sim->Stop(), 0);
    sim.reset();
  }
}

}  // namespace
