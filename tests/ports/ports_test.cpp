// The port table and device list from a fed device source, the mapping folder, and the
// renderings the command line prints.

#include "ports/ports.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ports/browser.h"
#include "support/fake_device_source.h"

namespace {

namespace fs = std::filesystem;
using ports::NodeState;
using ports_test::FakeDeviceSource;
using ports_test::OnBoard;
using ports_test::UsbAdapter;

const std::string kById = UsbAdapter().byId;

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "nibp-ports-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  [[nodiscard]] fs::path Ports() const { return path_ / "quirab_nibp" / "ports"; }
  [[nodiscard]] const fs::path& Root() const { return path_; }

 private:
  fs::path path_;
};

// A pseudo-terminal for as long as the test runs.
class Pty {
 public:
  Pty() {
    char name[64] = {};
    (void)::openpty(&master_, &slave_, name, nullptr, nullptr);
    name_ = name;
  }
  ~Pty() {
    ::close(slave_);
    ::close(master_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  [[nodiscard]] const std::string& Name() const { return name_; }

 private:
  int master_ = -1, slave_ = -1;
  std::string name_;
};

struct Fixture : ::testing::Test {
  TempDir tmp;
  FakeDeviceSource src;

  void Link(const std::string& name, const std::string& target) {
    fs::create_directories(tmp.Ports());
    fs::create_symlink(target, tmp.Ports() / name);
  }
  ports::Snapshot Snap() {
    (void)src.TakeChanges();
    return ports::BuildSnapshot(src.Enumerate(), src, tmp.Ports());
  }
};

using Ports = Fixture;

TEST_F(Ports, TheTableHasComOneToTenAndEveryOtherMappedPortEachWithItsDeviceAndState) {
  src.Plug(UsbAdapter());
  src.Plug(OnBoard("/dev/ttyS0"));
  src.Plug(OnBoard("/dev/ttyS1"), {true, false, "uucp"});
  Link("COM3", kById);
  Link("COM11", "/nonexistent/device");
  Link("COM200", "/dev/ttyS0");
  // Names an OPEN never looks up are no mappings.
  for (const char* junk : {"COM0", "COM256", "com4", "COM04", ".COM5.123.0", "COM7x"})
    Link(junk, "/dev/ttyS0");

  const std::vector<std::string> expected = {
      "COM1    /dev/ttyS0                                                  default  present",
      "COM2    /dev/ttyS1                                                  default  no access: add "
      "your user to the group uucp",
      "COM3    " + kById + "  mapped   present",
      "COM4    /dev/ttyS3                                                  default  not present",
      "COM5    /dev/ttyS4                                                  default  not present",
      "COM6    /dev/ttyS5                                                  default  not present",
      "COM7    /dev/ttyS6                                                  default  not present",
      "COM8    /dev/ttyS7                                                  default  not present",
      "COM9    /dev/ttyS8                                                  default  not present",
      "COM10   /dev/ttyS9                                                  default  not present",
      "COM11   /nonexistent/device                                         mapped   not present",
      "COM200  /dev/ttyS0                                                  mapped   present",
  };
  EXPECT_EQ(ports::PortLines(Snap()), expected);
}

TEST_F(Ports, TheDeviceListNamesAdaptersPortsAndThePseudoTerminalsThatAMappingNames) {
  Pty pty;
  Pty unmapped;
  src.Plug(OnBoard("/dev/ttyS10"));
  src.Plug(OnBoard("/dev/ttyS2"));
  src.Plug(UsbAdapter("/dev/ttyUSB1", "SN0002"), {true, false, "dialout"});
  src.Plug(UsbAdapter());
  Link("COM3", kById);
  Link("COM4", "/dev/ttyUSB0");
  Link("COM12", pty.Name());

  const ports::Snapshot s = Snap();
  ASSERT_EQ(s.devices.size(), 5u);
  struct Row {
    std::string node, kind, text;
  };
  const std::vector<Row> expected = {
      {"/dev/ttyUSB0", "USB",
       "Example USB Serial [1234:5678], serial SN0001  " + kById + "  as COM3,COM4"},
      {"/dev/ttyUSB1", "USB", "serial SN0002  " + UsbAdapter("", "SN0002").byId},
      {"/dev/ttyS2", "on-board", ""},
      {"/dev/ttyS10", "on-board", ""},
      {pty.Name(), "pseudo-terminal", ""},
  };
  const auto lines = ports::DeviceLines(s);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(lines[i].rfind(expected[i].node + "  ", 0), 0u) << lines[i];
    EXPECT_NE(lines[i].find("  " + expected[i].kind), std::string::npos) << lines[i];
    EXPECT_NE(lines[i].find(expected[i].text), std::string::npos) << lines[i];
  }
  EXPECT_TRUE(lines[1].ends_with("  no access: add your user to the group dialout")) << lines[1];
  EXPECT_EQ(s.devices[4].mappedAs, std::vector<uint8_t>{12});
}

TEST_F(Ports, DevicesComingAndGoingChangeTheStateOfThePortsThatNameThem) {
  src.Plug(UsbAdapter());
  Link("COM3", kById);
  EXPECT_EQ(Snap().ports[2].state, (NodeState{true, true, "dialout"}));

  src.Unplug("/dev/ttyUSB0");
  ASSERT_TRUE(src.TakeChanges());
  ports::Snapshot s = ports::BuildSnapshot(src.Enumerate(), src, tmp.Ports());
  EXPECT_FALSE(s.ports[2].state.exists);
  EXPECT_TRUE(s.devices.empty());
  EXPECT_FALSE(src.TakeChanges());

  src.Plug(UsbAdapter("/dev/ttyUSB4"));  // back under another node, the same by-id name
  EXPECT_EQ(ports::StateText(Snap().ports[2].state), "present");
}

TEST_F(Ports, MapPrefersTheByIdNameReplacesAnEarlierLinkAndUnmapRestoresTheDefault) {
  const std::vector<ports::Device> found = {UsbAdapter(), OnBoard()};
  EXPECT_EQ(ports::PreferredTarget(found, "/dev/ttyUSB0"), kById);
  EXPECT_EQ(ports::PreferredTarget(found, "/dev/ttyS0"), "/dev/ttyS0");
  EXPECT_EQ(ports::PreferredTarget(found, "/dev/pts/7"), "/dev/pts/7");

  ASSERT_TRUE(ports::Map(tmp.Ports(), 3, "/dev/ttyUSB0").ok);  // the folder is made
  ASSERT_TRUE(ports::MapName(tmp.Ports(), " com3 ", "/dev/ttyUSB0", found).ok);
  ASSERT_TRUE(ports::Map(tmp.Ports(), 255, "/dev/pts/7").ok);
  bool mapped = false;
  EXPECT_EQ(ports::DeviceOf(tmp.Ports(), 3, &mapped), kById);
  EXPECT_TRUE(mapped);
  EXPECT_EQ(ports::DeviceOf(tmp.Ports(), 255), "/dev/pts/7");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(tmp.Ports()))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"COM255", "COM3"}));  // no temporary left behind

  ASSERT_TRUE(ports::UnmapName(tmp.Ports(), "COM3").ok);
  EXPECT_EQ(ports::DeviceOf(tmp.Ports(), 3, &mapped), "/dev/ttyS2");
  EXPECT_FALSE(mapped);
  EXPECT_TRUE(ports::Unmap(tmp.Ports(), 3).ok);  // nothing to do

  // A device named relative to the current folder is stored absolute.
  const fs::path here = fs::current_path();
  fs::current_path(tmp.Root());
  ASSERT_TRUE(ports::MapName(tmp.Ports(), "COM8", "./sub/../ttyS2", {}).ok);
  fs::current_path(here);
  EXPECT_EQ(fs::read_symlink(tmp.Ports() / "COM8"), tmp.Root() / "ttyS2");

  // A relative link is taken from the folder, as an OPEN follows it.
  Link("COM5", "../../dev-here");
  EXPECT_EQ(ports::DeviceOf(tmp.Ports(), 5), (tmp.Root() / "dev-here").string());
}

TEST_F(Ports, MapAndUnmapRefuseBadNamesAndSayWhyAFolderCannotBeWritten) {
  struct Case {
    fs::path dir;
    uint8_t port;
    std::string target;
    std::string error;
  };
  fs::create_directories(tmp.Root());
  const fs::path file = tmp.Root() / "a-file";
  { std::ofstream(file) << "x"; }
  const std::vector<Case> cases = {
      {tmp.Ports(), 0, "/dev/ttyS0", "COM0 is no port: the names are COM1 to COM255"},
      {{},
       1,
       "/dev/ttyS0",
       "no folder for the mapping: neither HOME nor XDG_CONFIG_HOME is an absolute path"},
      {tmp.Ports(), 2, "", "COM2: no device given"},
      {file / "ports", 1, "/dev/ttyS0",
       "cannot create " + (file / "ports").string() + ": Not a directory"},
  };
  for (const auto& c : cases) {
    const ports::Outcome o = ports::Map(c.dir, c.port, c.target);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.error, c.error);
  }
  EXPECT_EQ(ports::Unmap(tmp.Ports(), 0).error, "COM0 is no port: the names are COM1 to COM255");
  for (const char* bad : {"COM0", "COM256", "COM03", "TTY1", ""}) {
    EXPECT_EQ(ports::MapName(tmp.Ports(), bad, "/dev/ttyS0", {}).error,
              "\"" + std::string(bad) + "\" is no port name: COM1 to COM255");
    EXPECT_FALSE(ports::UnmapName(tmp.Ports(), bad).ok);
  }
  // What the user put at COMn that is not a link stays, and says so.
  fs::create_directories(tmp.Ports() / "COM6" / "x");
  { std::ofstream(tmp.Ports() / "COM7") << "mine"; }
  for (const uint8_t port : {6, 7}) {
    const fs::path at = tmp.Ports() / ports::PortName(port);
    EXPECT_EQ(ports::Map(tmp.Ports(), port, "/dev/ttyS0").error,
              at.string() + " is not a link: left alone");
    EXPECT_EQ(ports::Unmap(tmp.Ports(), port).error, at.string() + " is not a link: left alone");
    EXPECT_FALSE(fs::is_symlink(at));
  }
  std::string kept;
  std::getline(std::ifstream(tmp.Ports() / "COM7"), kept);
  EXPECT_EQ(kept, "mine");
}

// A reader never finds the port unmapped while its link is replaced.
TEST_F(Ports, ReplacingALinkNeverLeavesThePortUnmapped) {
  ASSERT_TRUE(ports::Map(tmp.Ports(), 1, "/dev/a").ok);
  std::atomic<bool> stop{false};
  std::atomic<int> gaps{0};
  std::thread reader([&] {
    while (!stop) {
      bool mapped = false;
      (void)ports::DeviceOf(tmp.Ports(), 1, &mapped);
      if (!mapped) ++gaps;
    }
  });
  for (int i = 0; i < 2000; ++i)
    ASSERT_TRUE(ports::Map(tmp.Ports(), 1, i % 2 ? "/dev/a" : "/dev/b").ok);
  stop = true;
  reader.join();
  EXPECT_EQ(gaps, 0);
}

TEST_F(Ports, TextAndJsonCarryBothLists) {
  src.Plug(UsbAdapter(), {true, false, "dialout"});
  Link("COM3", kById);
  const ports::Snapshot s = Snap();
  const std::string text = ports::RenderText(s);
  EXPECT_EQ(text.rfind("Ports\nPORT   DEVICE", 0), 0u) << text;
  EXPECT_NE(text.find("\nDevices\nDEVICE        KIND  IDENTITY"), std::string::npos) << text;

  const std::string json = ports::RenderJson(s);
  EXPECT_EQ(json.substr(0, json.find("},{")),
            "{\"ports\":[{\"name\":\"COM1\",\"device\":\"/dev/ttyS0\",\"mapped\":false,"
            "\"present\":false,\"access\":false,\"group\":\"\",\"state\":\"not present\"");
  EXPECT_NE(json.find("{\"name\":\"COM3\",\"device\":\"" + kById +
                      "\",\"mapped\":true,\"present\":true,\"access\":false,\"group\":\"dialout\","
                      "\"state\":\"no access: add your user to the group dialout\"}"),
            std::string::npos);
  EXPECT_NE(
      json.find("\"devices\":[{\"node\":\"/dev/ttyUSB0\",\"kind\":\"USB\",\"vendor\":\"Example\","
                "\"product\":\"USB Serial\",\"serial\":\"SN0001\",\"vendor_id\":\"1234\","
                "\"product_id\":\"5678\",\"by_id\":\"" +
                kById + "\","),
      std::string::npos);
  EXPECT_EQ(json.substr(json.size() - 24), "\"mapped_as\":[\"COM3\"]}]}\n");

  FakeDeviceSource none;
  EXPECT_NE(ports::RenderText(ports::BuildSnapshot({}, none, {}))
                .find("Devices\n(no serial devices found)\n"),
            std::string::npos);
}

// What the Ports window shows and does, by row identity, whatever order its tables sort in.
TEST_F(Ports, TheBrowserShowsCellsMapsAndUnmapsSelectedRowsAndFollowsPlugging) {
  src.Plug(UsbAdapter());
  src.Plug(OnBoard());
  ports::Browser b(src.Share(), tmp.Ports());
  ASSERT_TRUE(b.Refresh());
  ASSERT_EQ(b.Shown().ports.size(), 10u);
  const auto port = [&b](size_t i) { return ports::PortCells(b.Shown().ports.at(i)); };
  const auto device = [&b](size_t i) { return ports::DeviceCells(b.Shown().devices.at(i)); };
  EXPECT_EQ(port(0), (ports::Cells{"COM1", "/dev/ttyS0", "yes", "yes"}));
  EXPECT_EQ(port(1), (ports::Cells{"COM2", "/dev/ttyS1", "no", ""}));
  const std::string byIdName = fs::path(kById).filename().string();

  struct Can {
    std::vector<uint8_t> ports;
    std::vector<std::string> devices;
    bool map, unmap;
  };
  for (const Can& c : std::vector<Can>{{{}, {}, false, false},
                                       {{1}, {}, false, false},
                                       {{3}, {"/dev/ttyUSB0"}, true, false},
                                       {{3, 4}, {"/dev/ttyUSB0"}, false, false},
                                       {{3}, {"/dev/ttyUSB9"}, false, false}}) {
    EXPECT_EQ(b.CanMap(c.ports, c.devices), c.map) << c.ports.size();
    EXPECT_EQ(b.CanUnmap(c.ports), c.unmap) << c.ports.size();
  }

  // Map prefers the by-id name.
  auto r = b.Map(3, "/dev/ttyUSB0");
  EXPECT_EQ(r.text, "COM3 now opens " + kById);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(fs::read_symlink(tmp.Ports() / "COM3"), kById);
  EXPECT_EQ(port(2), (ports::Cells{"COM3", kById, "yes", "yes"}));
  EXPECT_EQ(device(0), (ports::Cells{"/dev/ttyUSB0",
                                     "USB, Example USB Serial [1234:5678], serial SN0001, as COM3",
                                     byIdName, "yes"}));
  EXPECT_EQ(device(1), (ports::Cells{"/dev/ttyS0", "on-board", "", "yes"}));
  EXPECT_TRUE(b.CanUnmap({1, 3}));

  // Plugged and unplugged: the next refresh shows it; nothing came or went, nothing enumerated.
  src.Plug(UsbAdapter("/dev/ttyUSB1", "SN0002"), {true, false, "dialout"});
  ASSERT_TRUE(b.Refresh());
  EXPECT_EQ(device(1)[3], "no access: add your user to the group dialout");
  src.Unplug("/dev/ttyUSB0");
  ASSERT_TRUE(b.Refresh());
  EXPECT_EQ(port(2), (ports::Cells{"COM3", kById, "no", ""}));
  const int enumerations = src.Enumerations();
  EXPECT_FALSE(b.Refresh());
  EXPECT_EQ(src.Enumerations(), enumerations);

  // Unmap acts on every mapped port selected, and skips the others.
  ASSERT_TRUE(b.Map(4, "/dev/ttyS0").error.empty());
  r = b.Unmap({1, 3, 4});
  EXPECT_EQ(r.text, "COM3 opens /dev/ttyS2 again; COM4 opens /dev/ttyS3 again");
  EXPECT_EQ(r.error, "");
  EXPECT_FALSE(fs::exists(fs::symlink_status(tmp.Ports() / "COM3")));
  EXPECT_EQ(port(2), (ports::Cells{"COM3", "/dev/ttyS2", "no", ""}));
  EXPECT_FALSE(b.CanUnmap({3, 4}));

  // A failure is said for a message box, with no result line.
  fs::remove_all(tmp.Ports());
  { std::ofstream(tmp.Ports()) << "not a folder"; }
  r = b.Map(5, "/dev/ttyS0");
  EXPECT_EQ(r.text, "");
  EXPECT_EQ(r.error, "cannot create " + tmp.Ports().string() + ": Not a directory");
}

// This machine's udev may know few devices or none; every one it lists is a device node.
TEST(UdevSource, EnumeratesWithoutFailingAndReportsNodes) {
  auto src = ports::MakeUdevSource();
  for (const auto& d : src->Enumerate()) EXPECT_EQ(d.node.rfind("/dev/", 0), 0u) << d.node;
  (void)src->TakeChanges();
}

}  // namespace
