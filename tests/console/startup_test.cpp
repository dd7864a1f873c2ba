// The console as the user first sees it, through the headless window system.

#include <gtest/gtest.h>

#include <algorithm>

#include "app/nibp_app.h"
#include "console/nibp_dlg.h"
#include "framework/icon.h"
#include "res/resource.h"
#include "support/console_fixture.h"
#include "support/headless.h"

namespace {

using fw::headless::HeadlessBackend;
using fw::headless::HeadlessWindow;

using Console = testsupport::HeadlessConsole;

TEST_F(Console, StartsWithComOneSelectedAndTheDefaultsShown) {
  EXPECT_EQ(w->GetText(IDC_PORT_COMBO), "COM1");
  EXPECT_EQ(w->ComboGetCurSel(IDC_PORT_COMBO), 1);
  EXPECT_EQ(dlg.m_nSelPort, 1);
  EXPECT_EQ(w->GetText(IDC_INFLATE), "160");
  EXPECT_EQ(dlg.m_nInflate, 160u);
  EXPECT_EQ(w->GetText(IDC_PRESSURE), "  0  mmHg");
  EXPECT_FALSE(w->IsEnabled(IDC_PRESSURE));
  EXPECT_EQ(w->GetText(IDC_PORT_STATUS), "");
  for (int id : {IDC_PUMP, IDC_CONTROL_VALVE, IDC_DUMP_VALVE, IDC_AUTO_PRESSURE})
    EXPECT_EQ(w->GetCheck(id), 0);
  EXPECT_TRUE(w->Lines(IDC_LIST_RAW).empty());
  EXPECT_TRUE(w->Lines(IDC_LIST_EVENT).empty());
  EXPECT_FALSE(w->Visible(IDC_RX_HEX));
  EXPECT_FALSE(w->Visible(IDC_RX_CHECK));
  EXPECT_EQ(w->GetText(IDC_RX_HEX), "");
  EXPECT_EQ(w->SpinRange(IDC_INFLATE_SPIN), std::make_pair(30, 300));
  EXPECT_EQ(w->Focus(), IDC_PORT_COMBO);
  EXPECT_TRUE(w->Timers().empty());
  EXPECT_FALSE(dlg.m_comm.m_bConnected);
}

TEST_F(Console, ComboHoldsSelectPortAndTenPorts) {
  const std::vector<std::string> expected = {"SELECT PORT", "COM1", "COM2", "COM3", "COM4", "COM5",
                                             "COM6",        "COM7", "COM8", "COM9", "COM10"};
  EXPECT_EQ(w->Items(IDC_PORT_COMBO), expected);
}

TEST_F(Console, SystemMenuOffersTheAboutBoxTheViewsAndTheSessionItemsAndIconsAreSet) {
  const auto& menu = w->SystemMenu();
  const struct {
    UINT id;
    const char* text;
    bool checked;
  } items[] = {
      {0, "", false},
      {IDM_ABOUTBOX, "QUIRAB_NIBP 정보(&A)...", false},
      {IDM_PRESSURE_CHART, "Pressure Chart", false},
      {IDM_RESULTS, "Results", false},
      {IDM_PORTS, "Ports...", false},
      {IDM_SEND_BYTES, "Send Bytes...", false},
      {IDM_SERVICE_CHECKS, "Service Checks...", false},
      {0, "", false},
      {IDM_FETCH_RESULT, "Fetch Result When Done", false},  // off until turned on
      {IDM_RECORD_SESSION, "Record Session", true},
      {IDM_OPEN_SESSIONS, "Open Sessions Folder", false},
  };
  ASSERT_EQ(menu.size(), std::size(items));
  for (size_t i = 0; i < menu.size(); ++i) {
    if (items[i].id == 0) {
      EXPECT_EQ(menu[i].flags, MF_SEPARATOR) << i;
      continue;
    }
    EXPECT_EQ(menu[i].id, items[i].id) << i;
    EXPECT_EQ(menu[i].text, items[i].text) << i;
    EXPECT_EQ(menu[i].checked, items[i].checked) << i;
  }
  EXPECT_TRUE(menu[9].checkable && menu[8].checkable);
  EXPECT_EQ(w->BigIcon(), fw::LoadIcon(IDR_MAINFRAME));
  EXPECT_EQ(w->SmallIcon(), fw::LoadIcon(IDR_MAINFRAME));
  EXPECT_EQ(dlg.OnQueryDragIcon(), fw::LoadIcon(IDR_MAINFRAME));
}

TEST_F(Console, ChartAndResultsOpenOnceOverTheConsolesStoresAndShowAgain) {
  dlg.OnSysCommand(IDM_PRESSURE_CHART, 0);
  dlg.OnSysCommand(IDM_RESULTS | 0x3, 0);
  dlg.OnSysCommand(IDM_PRESSURE_CHART, 0);
  EXPECT_EQ(views.Events(),
            (std::vector<std::string>{"Pressure Chart created", "Pressure Chart shown",
                                      "Results created", "Results shown", "Pressure Chart shown"}));
  EXPECT_EQ(views.ChartSeries(), &dlg.m_feed.Series());
  EXPECT_EQ(views.ResultRows(), &dlg.m_feed.Results());
  // Windows of the console's window, so that its modality does not block them.
  EXPECT_EQ(views.Parents(), (std::vector<fw::Window*>{w, w}));
  EXPECT_TRUE(ui.ModalRuns().empty());
}

TEST_F(Console, ServiceChecksDriveTheLinkWithTheCommandsOffAndTheBoxesFollowing) {
  dlg.OnSysCommand(IDM_SERVICE_CHECKS, 0);
  ASSERT_NE(views.ChecksHost(), nullptr);
  EXPECT_EQ(views.Parents(), (std::vector<fw::Window*>{w}));
  console::ChecksHost& host = *views.ChecksHost();
  EXPECT_FALSE(host.ChecksPortOpen());
  OpenPort();
  EXPECT_TRUE(host.ChecksPortOpen());
  EXPECT_EQ(host.ChecksPort(), "COM1");
  checks::Params params;
  {
    console::ChecksRun run(host, {checks::CheckKind::kLeak}, params, nullptr, nullptr);
    run.Start();
    for (const int id : {IDC_START_ADULT, IDC_GET_PRESSURE, IDC_PUMP, IDC_DUMP_VALVE})
      EXPECT_FALSE(w->IsEnabled(id)) << id;
    EXPECT_EQ(w->GetCheck(IDC_PUMP), 1);  // pumping as the check drives it
    EXPECT_FALSE(Sent().empty());
  }  // going away mid-check aborts it: pump off, valves open, commands back
  EXPECT_EQ(w->GetCheck(IDC_PUMP), 0);
  EXPECT_EQ(w->GetCheck(IDC_CONTROL_VALVE), 0);
  EXPECT_EQ(w->GetCheck(IDC_DUMP_VALVE), 0);
  EXPECT_TRUE(w->IsEnabled(IDC_START_ADULT));
  EXPECT_TRUE(w->IsEnabled(IDC_PUMP));
  const auto& events = w->Lines(IDC_LIST_EVENT);
  EXPECT_EQ(events.front(), "Service checks: leak");
  EXPECT_EQ(events.back(), "leak: ABORTED: closed");

  // Lost mid-check: the vent could not go out, so it goes out once the port takes it again.
  {
    console::ChecksRun run(host, {checks::CheckKind::kLeak}, params, nullptr, nullptr);
    run.Start();
    os->HangUp();
    ASSERT_TRUE(w->RunUntil([&] { return w->GetText(IDC_PORT_STATUS) == "COM1 LOST"; },
                            std::chrono::seconds(10)));
    run.Tick();
    EXPECT_TRUE(run.Engine().VentUnsent());
  }
  const size_t before = Sent().size();
  os->Replug();
  ASSERT_TRUE(w->RunUntil(
      [&] {
        return w->Lines(IDC_LIST_EVENT).back() ==
               "Safety: cuff vented now that the port takes commands";
      },
      std::chrono::seconds(10)));
  protocol::TxBuf frame{};
  const size_t n = commands::BuildFrame(commands::kAllOff, frame);
  const std::vector<uint8_t> sent = Sent();
  ASSERT_GE(sent.size(), before);
  EXPECT_EQ(std::vector<uint8_t>(sent.begin() + static_cast<std::ptrdiff_t>(before), sent.end()),
            std::vector<uint8_t>(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(n)));
  EXPECT_EQ(w->GetCheck(IDC_PUMP), 0);

  // CLOSE mid-check vents first, so nothing is left to vent at the next OPEN.
  {
    console::ChecksRun run(host, {checks::CheckKind::kLeak}, params, nullptr, nullptr);
    run.Start();
    os->ClearCalls();
    w->Click(IDC_PORT_CLOSE);
    run.Tick();
    EXPECT_TRUE(run.Done());
    EXPECT_FALSE(run.Engine().VentUnsent());
  }
  // On the line before the close purges what waits.
  const auto calls = os->Calls();
  const auto drain = std::find(calls.begin(), calls.end(), "Drain");
  EXPECT_LT(drain - calls.begin(), std::find(calls.begin(), calls.end(), "Purge") - calls.begin());
  EXPECT_NE(drain, calls.end());
  const std::vector<uint8_t> closed = Sent();
  ASSERT_GE(closed.size(), n);
  EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(n),
                         closed.end() - static_cast<std::ptrdiff_t>(n)));
  OpenPort();
  EXPECT_EQ(Sent().size(), closed.size());
}

TEST_F(Console, AnySystemCommandFrom0x10To0x1FOpensTheAboutBox) {
  std::vector<std::string> seen;
  ui.onModal = [&](HeadlessWindow& about) {
    for (const auto& c : about.Template().controls) {
      if (c.kind == res::Kind::Static) seen.push_back(std::string(c.caption));
    }
    about.PressEnter();  // the default button "확인"
    EXPECT_TRUE(about.Ended());
    EXPECT_EQ(about.EndCode(), IDOK);
  };
  for (UINT id = 0x0010; id <= 0x001F; ++id) w->SysCommand(id);
  w->SysCommand(0x0020);
  w->SysCommand(0x000F);
  w->SysCommand(0xF120);  // restore: default handling, no About box
  ASSERT_EQ(ui.ModalRuns().size(), 16u);
  for (int id : ui.ModalRuns()) EXPECT_EQ(id, IDD_ABOUTBOX);
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[0], "QUIRAB_NIBP 버전 1.0");
  EXPECT_FALSE(w->Ended());
}

TEST_F(Console, EnterAndEscNeverEndTheConsoleAndTheCloseBoxDoes) {
  // Enter in the edit takes its text first, as leaving it would, then sets the pressure.
  OpenPort();
  w->Type(IDC_INFLATE, "77");
  w->PressEnter();
  EXPECT_EQ(dlg.m_nInflate, 77u);
  EXPECT_EQ(w->Lines(IDC_LIST_EVENT), std::vector<std::string>{"-- Set Initial Inflate to 77 --"});
  EXPECT_EQ(w->Lines(IDC_LIST_RAW), std::vector<std::string>{"PC --> MODULE <3A><17><4D><00><62>"});
  for (const int focus : {IDC_PORT_COMBO, IDC_PUMP, IDC_LIST_EVENT}) {
    w->SetFocus(focus);
    w->PressEnter();
  }
  w->PressEscape();
  EXPECT_FALSE(w->Ended());
  EXPECT_EQ(w->Lines(IDC_LIST_EVENT).size(), 1u);
  w->CloseBox();
  EXPECT_TRUE(w->Ended());
  EXPECT_EQ(w->EndCode(), IDCANCEL);
}

TEST_F(Console, EnterOnAFocusedPushButtonClicksIt) {
  w->SetFocus(IDC_START_ADULT);
  w->PressEnter();
  EXPECT_FALSE(w->Ended());
  EXPECT_EQ(w->Lines(IDC_LIST_EVENT),
            (std::vector<std::string>{"-- Start Adult BP --", "Not sent: port closed"}));
}

TEST_F(Console, MinimisedWindowDrawsTheIconCentredWithRounding) {
  const struct {
    int w, h, x, y;
  } cases[] = {{160, 28, 64, -1},
               {161, 29, 65, -1},
               {32, 32, 0, 0},
               {0, 0, -15, -15}};  // integer division truncates
  w->SetIconic(true);
  for (const auto& c : cases) {
    w->SetClientSize(c.w, c.h);
    w->Paint();
    ASSERT_FALSE(w->DrawnIcons().empty());
    EXPECT_EQ(w->DrawnIcons().back().x, c.x) << c.w;
    EXPECT_EQ(w->DrawnIcons().back().y, c.y) << c.h;
    EXPECT_EQ(w->DrawnIcons().back().icon, dlg.m_hIcon);
  }
  EXPECT_EQ(w->IconErases(), 4);
  w->SetIconic(false);
  w->Paint();
  EXPECT_EQ(w->DrawnIcons().size(), 4u);
}

TEST(App, InitInstanceRunsTheConsoleModallyAndReturnsFalse) {
  HeadlessBackend ui;
  int runs = 0;
  ui.onModal = [&](HeadlessWindow& w) {
    ++runs;
    EXPECT_EQ(w.Template().id, IDD_QUIRAB_NIBP_DIALOG);
    EXPECT_EQ(w.GetText(IDC_INFLATE), "160");
    w.SysCommand(IDM_RESULTS);  // the app's views reach the console
    w.CloseBox();
  };
  testsupport::RecordingViews views;
  CNibpApp app(ui, views);
  EXPECT_EQ(app.InitInstance(), FALSE);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(views.Events(),
            (std::vector<std::string>{"Results created", "Results shown", "Results closed"}));
  EXPECT_EQ(app.m_pMainWnd, nullptr);
  EXPECT_TRUE(ui.Windows().empty());
}

}  // namespace
