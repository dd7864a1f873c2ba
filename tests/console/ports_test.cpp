// The Ports window as the console runs it, and the port box's tooltip, on the headless window
// system with fed devices.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "console/nibp_dlg.h"
#include "support/console_fixture.h"
#include "support/fake_device_source.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;
using ports_test::FakeDeviceSource;
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

TEST_F(PortsWindow, RunsModallyOverTheConsoleWithTheFedDevicesAndThePortsFolder) {
  fake.Plug(UsbAdapter());
  bool ran = false;
  views.onPorts = [&](ports::DeviceSource& source, const fs::path& dir) {
    ran = true;
    EXPECT_EQ(source.Enumerate().size(), 1u);
    EXPECT_EQ(dir, Link("COM1").parent_path());
  };
  w->SysCommand(IDM_PORTS);
  EXPECT_TRUE(ran);
  EXPECT_EQ(views.Events(), std::vector<std::string>{"Ports run"});
  EXPECT_EQ(views.Parents(), std::vector<fw::Window*>{w});
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
  views.onPorts = [&](ports::DeviceSource&, const fs::path& dir) {
    ASSERT_TRUE(ports::Map(dir, 2, "/dev/ttyS5").ok);
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
