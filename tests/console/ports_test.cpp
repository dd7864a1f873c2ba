// The Ports window and the port box's tooltip, on the headless window system with fed devices.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "console/ports_dlg.h"
#include "support/console_fixture.h"
#include "support/fake_device_source.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;
using fw::headless::HeadlessWindow;
using ports_test::FakeDeviceSource;
using ports_test::OnBoard;
using ports_test::UsbAdapter;

struct PortsWindow : testsupport::HeadlessConsole {
  testsupport::TempConfigHome home;
  FakeDeviceSource fake;
  void SetUp() override {
    HeadlessConsole::SetUp();
    dlg.m_makeDeviceSource = [this] { return fake.Share(); };
  }
  [[nodiscard]] fs::path Link(const std::string& com) const { return home.PortLink(com); }
};

bool Has(const std::string& line, const std::string& part) {
  return line.find(part) != std::string::npos;
}

TEST_F(PortsWindow, ListsPortsAndDevicesMapsAndUnmapsAndFollowsPlugging) {
  fake.Plug(UsbAdapter());
  fake.Plug(OnBoard());
  const std::string byId = UsbAdapter().byId;
  bool ran = false;
  ui.onModal = [&](HeadlessWindow& p) {
    ran = true;
    EXPECT_EQ(p.Template().title, "Ports");
    ASSERT_EQ(p.Lines(IDC_PORTS_TABLE).size(), 10u);
    ASSERT_EQ(p.Lines(IDC_PORTS_DEVICES).size(), 2u);
    EXPECT_EQ(p.Lines(IDC_PORTS_TABLE)[0], "COM1   /dev/ttyS0  default  present");
    EXPECT_TRUE(Has(p.Lines(IDC_PORTS_DEVICES)[0], "/dev/ttyUSB0  USB"));
    EXPECT_LE(p.Timers().at(TIMER_PORTS_REFRESH), 1000u);
    EXPECT_FALSE(p.IsEnabled(IDC_PORTS_MAP));  // COM1 is selected, no device yet
    EXPECT_FALSE(p.IsEnabled(IDC_PORTS_UNMAP));

    // Map prefers the by-id name.
    p.SelectItem(IDC_PORTS_TABLE, 2);
    p.SelectItem(IDC_PORTS_DEVICES, 0);
    p.Click(IDC_PORTS_MAP);
    EXPECT_EQ(fs::read_symlink(Link("COM3")), byId);
    EXPECT_EQ(p.GetText(IDC_PORTS_RESULT), "COM3 now opens " + byId);
    EXPECT_TRUE(Has(p.Lines(IDC_PORTS_TABLE)[2], byId + "  mapped   present"));
    EXPECT_TRUE(p.Lines(IDC_PORTS_DEVICES)[0].ends_with("as COM3"));

    // Plugged and unplugged while open: the next tick shows it, the selections stay.
    fake.Plug(UsbAdapter("/dev/ttyUSB1", "SN0002"), {true, false, "dialout"});
    ASSERT_TRUE(p.FireTimer(TIMER_PORTS_REFRESH));
    ASSERT_EQ(p.Lines(IDC_PORTS_DEVICES).size(), 3u);
    EXPECT_TRUE(
        p.Lines(IDC_PORTS_DEVICES)[1].ends_with("no access: add your user to the group dialout"));
    EXPECT_EQ(p.CurSel(IDC_PORTS_TABLE), 2);
    EXPECT_EQ(p.CurSel(IDC_PORTS_DEVICES), 0);
    fake.Unplug("/dev/ttyUSB0");
    ASSERT_TRUE(p.FireTimer(TIMER_PORTS_REFRESH));
    EXPECT_TRUE(p.Lines(IDC_PORTS_TABLE)[2].ends_with("mapped   not present"));
    EXPECT_EQ(p.CurSel(IDC_PORTS_DEVICES), -1);
    const int enumerations = fake.Enumerations();
    ASSERT_TRUE(p.FireTimer(TIMER_PORTS_REFRESH));  // nothing came or went: no enumeration
    EXPECT_EQ(fake.Enumerations(), enumerations);

    EXPECT_FALSE(p.IsEnabled(IDC_PORTS_MAP));  // its device is gone
    ASSERT_TRUE(p.IsEnabled(IDC_PORTS_UNMAP));
    p.Click(IDC_PORTS_UNMAP);
    EXPECT_FALSE(fs::exists(fs::symlink_status(Link("COM3"))));
    EXPECT_EQ(p.GetText(IDC_PORTS_RESULT), "COM3 opens /dev/ttyS2 again");
    EXPECT_TRUE(p.Lines(IDC_PORTS_TABLE)[2].starts_with("COM3   /dev/ttyS2  default"));
    EXPECT_FALSE(p.IsEnabled(IDC_PORTS_UNMAP));
    p.PressEscape();
  };
  w->SysCommand(IDM_PORTS);
  EXPECT_TRUE(ran);
  EXPECT_EQ(ui.ModalRuns(), std::vector<int>{IDD_PORTS});
}

TEST_F(PortsWindow, ThePortBoxTipNamesTheDeviceTheSelectedOrTypedPortOpens) {
  const fs::path device = fs::path(home.Dir()) / "adapter";
  { std::ofstream(device) << ""; }
  fs::create_directories(Link("COM12").parent_path());
  fs::create_symlink(device, Link("COM12"));
  fs::create_symlink("/nonexistent/adapter", Link("COM2"));
  struct Row {
    std::string typed;  // empty: choose item 2 from the list
    std::string tip;
  };
  const std::vector<Row> rows = {
      {" com12 ", "COM12 opens " + device.string()},
      {"", "COM2 opens /nonexistent/adapter, not present now"},
      {"COM256", "Choose a port or type its name, COM1 to COM255"},
      {"SELECT PORT", "Choose a port or type its name, COM1 to COM255"},
  };
  for (const auto& r : rows) {
    if (r.typed.empty()) {
      w->SelectItem(IDC_PORT_COMBO, 2);
    } else {
      w->Type(IDC_PORT_COMBO, r.typed);
    }
    EXPECT_EQ(w->Tip(IDC_PORT_COMBO), r.tip) << r.typed;
  }
  // A mapping made in the Ports window shows in the tip when the window closes.
  w->SelectItem(IDC_PORT_COMBO, 2);
  ui.onModal = [&](HeadlessWindow& p) {
    EXPECT_EQ(p.Lines(IDC_PORTS_DEVICES), std::vector<std::string>{"(no serial devices found)"});
    fake.Plug(OnBoard("/dev/ttyS5"));
    ASSERT_TRUE(p.FireTimer(TIMER_PORTS_REFRESH));
    p.SelectItem(IDC_PORTS_TABLE, 1);
    p.SelectItem(IDC_PORTS_DEVICES, 0);
    p.Click(IDC_PORTS_MAP);
  };
  w->SysCommand(IDM_PORTS);
  EXPECT_TRUE(w->Tip(IDC_PORT_COMBO).starts_with("COM2 opens /dev/ttyS5"))
      << w->Tip(IDC_PORT_COMBO);
  EXPECT_EQ(w->Items(IDC_PORT_COMBO).size(), 11u);
  // A link made by someone else shows the next time the tip does.
  fs::remove(Link("COM2"));
  fs::create_symlink(device, Link("COM2"));
  EXPECT_EQ(w->HoverTip(IDC_PORT_COMBO), "COM2 opens " + device.string());
}

}  // namespace
