// CComm over the in-memory OS layer: the order of platform calls, the cases that must make
// none, device names, and the reader's behaviour at the edges.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "serial/comm.h"
#include "support/fake_platform.h"
#include "test_support.h"

namespace {

using serial::FakePlatform;
using serial::Status;
using serial_test::PortsDir;
using serial_test::TestWindow;
using serial_test::WaitFor;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct FakeCommTest : ::testing::Test {
  PortsDir dir;
  std::shared_ptr<FakePlatform> os = std::make_shared<FakePlatform>();
  TestWindow win;
  CComm comm{os};

  FakeCommTest() { win.Attach(&comm); }
  ~FakeCommTest() override { EXPECT_EQ(os->BadHandleUses(), 0u); }

  BOOL Open(uint8_t port = 3, uint8_t bits = 8, uint8_t parity = 0, uint8_t stop = 0) {
    comm.SetPortSettings(port, 9600, bits, parity, stop);
    comm.SetNotifyWindow(&win);
    (void)comm.CreateIoEvents();
    return comm.OpenPort();
  }
};

TEST_F(FakeCommTest, OpenAndCloseCallOrderWithLineAlways8N1) {
  dir.Link("COM3", "/dev/null");
  ASSERT_TRUE(Open(3, 7, 2, 2));
  EXPECT_EQ(comm.m_bConnected, 1);
  EXPECT_NE(comm.m_hComm, serial::kInvalidHandle);
  const std::string path = (dir.Ports() / "COM3").string();
  EXPECT_THAT(os->Calls(), ElementsAre("Open " + path, "Configure 9600 8N1", "Purge", "OpenWaker"));

  os->ClearCalls();
  EXPECT_TRUE(comm.ClosePort());
  EXPECT_EQ(comm.m_bConnected, 0);
  EXPECT_EQ(comm.m_hComm, serial::kInvalidHandle);
  EXPECT_THAT(os->Calls(), ElementsAre("Wake", "CloseWaker", "ClearDtr", "Purge", "Close"));
}

TEST_F(FakeCommTest, FailedOpenClosesWhatItOpenedAndStaysClosed) {
  struct Case {
    Status FakePlatform::*knob;
    Status result;
    int err;
    std::vector<std::string> calls;
    std::string failure;  // after "PATH: "
  };
  const std::vector<Case> cases = {
      {&FakePlatform::openResult, Status::kNotFound, ENOENT, {"Open"}, "No such file or directory"},
      {&FakePlatform::openResult, Status::kInUse, EBUSY, {"Open"}, "a terminal in use"},
      {&FakePlatform::configureResult,
       Status::kFailed,
       0,
       {"Open", "Configure 9600 8N1", "Close"},
       "failed"},
      {&FakePlatform::wakerResult,
       Status::kFailed,
       EMFILE,
       {"Open", "Configure 9600 8N1", "Purge", "OpenWaker", "Close"},
       "Too many open files"},
  };
  for (const auto& c : cases) {
    (*os).*c.knob = c.result;
    os->lastError = c.err;
    os->ClearCalls();
    EXPECT_FALSE(Open());
    std::vector<std::string> calls = os->Calls();
    calls[0] = calls[0].substr(0, 4);  // the path is another test's concern
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(comm.OpenFailure(), "/dev/ttyS2: " + c.failure);
    EXPECT_EQ(comm.m_bConnected, 0);
    EXPECT_EQ(comm.m_hComm, serial::kInvalidHandle);
    (*os).*c.knob = Status::kOk;
  }
  // The object is reusable after any of them.
  EXPECT_TRUE(Open());
  EXPECT_TRUE(comm.ClosePort());
}

TEST_F(FakeCommTest, ClosedPortMakesNoPlatformCalls) {
  const uint8_t frame[] = {0x3A, 0x79, 0x05, 0x00, 0x48};
  EXPECT_TRUE(comm.ClosePort());
  EXPECT_FALSE(comm.WritePort(frame, sizeof frame));
  EXPECT_THAT(os->Calls(), IsEmpty());

  ASSERT_TRUE(Open());
  EXPECT_TRUE(comm.ClosePort());
  os->ClearCalls();
  EXPECT_TRUE(comm.ClosePort());
  EXPECT_FALSE(comm.WritePort(frame, sizeof frame));
  EXPECT_THAT(os->Calls(), IsEmpty());
  EXPECT_THAT(os->Written(), IsEmpty());
}

// What the device does not take at once goes out later, in order; a command that does not fit
// whole is not sent at all; a loss drops what waited and says so once.
TEST_F(FakeCommTest, CommandsGoOutWholeAndInOrderWhateverTheDeviceTakes) {
  const uint8_t frame[] = {0x3A, 0x79, 0x05, 0x00, 0x48};
  const std::vector<uint8_t> one(frame, frame + sizeof frame);
  std::vector<uint8_t> expected;
  ASSERT_TRUE(Open());
  EXPECT_TRUE(comm.WritePort(frame, sizeof frame));
  expected.insert(expected.end(), one.begin(), one.end());
  os->writeLimit = 3;  // each write takes only part
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(comm.Send(frame, sizeof frame), SendResult::kSent);
    expected.insert(expected.end(), one.begin(), one.end());
  }
  ASSERT_TRUE(WaitFor([&] { return comm.OutputQueued() == 0; }));
  EXPECT_EQ(os->Written(), expected);

  os->writeLimit = UINT32_MAX;
  os->Block(2);  // the peer stops reading
  while (comm.OutputQueued() + sizeof frame <= kOutputQueueSize) {
    ASSERT_EQ(comm.Send(frame, sizeof frame), SendResult::kSent);
    expected.insert(expected.end(), one.begin(), one.end());
  }
  EXPECT_EQ(comm.Send(frame, sizeof frame), SendResult::kFull);
  os->Drain();
  ASSERT_TRUE(WaitFor([&] { return comm.OutputQueued() == 0; }));
  EXPECT_EQ(os->Written(), expected);

  os->Block(0);
  EXPECT_EQ(comm.Send(frame, sizeof frame), SendResult::kSent);
  os->HangUp();
  ASSERT_TRUE(win.Pump());
  EXPECT_THAT(win.lost, ElementsAre(3u));
  EXPECT_TRUE(comm.IsLost());
  EXPECT_EQ(comm.Send(frame, sizeof frame), SendResult::kLost);
  EXPECT_TRUE(comm.TakeOutputDroppedOnLoss());
  EXPECT_FALSE(comm.TakeOutputDroppedOnLoss());
  EXPECT_EQ(comm.OutputQueued(), 0u);
  EXPECT_TRUE(comm.ClosePort());
  EXPECT_EQ(comm.Send(frame, sizeof frame), SendResult::kClosed);
}

TEST_F(FakeCommTest, DeviceNames) {
  dir.Link("COM1", "/nonexistent/ttyUSB0");  // mapped, even while unplugged
  dir.Link("COM254", "/nonexistent/ttyUSB1");
  const std::string ports = dir.Ports().string();
  struct Case {
    uint8_t port;
    const char* name;
    std::string path;
  };
  using Via = serial::PortRoute::Via;
  const Case cases[] = {
      {1, "COM1", ports + "/COM1"},       {10, "COM10", "/dev/ttyS9"},
      {200, "COM200", "/dev/ttyS199"},    {201, "TELNET", ports + "/TELNET"},
      {255, "TELNET", ports + "/TELNET"}, {254, "TELNET", ports + "/COM254"},  // mapped
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CComm::DeviceName(c.port), c.name);
    EXPECT_EQ(CComm::DevicePath(c.port), c.path);
    os->ClearCalls();
    ASSERT_TRUE(Open(c.port)) << int(c.port);
    EXPECT_EQ(os->Calls().front(), "Open " + c.path);
    EXPECT_EQ(comm.Opened().via, c.path.starts_with("/dev/") ? Via::kBuiltIn : Via::kLink);
    EXPECT_TRUE(comm.ClosePort());
  }
}

// A reopen goes the way the open went, wherever the link points now; only a new open looks the
// port number up again.
TEST_F(FakeCommTest, ReopenGoesTheWayTheOpenWent) {
  using Via = serial::PortRoute::Via;
  const std::string link = (dir.Ports() / "COM3").string();
  struct Case {
    const char* atOpen;    // COM3's link at the open, or none
    const char* atReopen;  // and at the reopen
    std::string reopened;  // the path the reopen opens
    std::string target;    // where the reopen says the link pointed
    std::string fresh;     // the path a new open opens
  };
  const Case cases[] = {
      {"/dev/pts/7", nullptr, link, "", "/dev/ttyS2"},  // gone: lost until back
      {"/dev/pts/7", "/dev/pts/9", link, "/dev/pts/9", link},
      {"/dev/pts/7", "by-id/usb0", link, dir.Ports().string() + "/by-id/usb0", link},
      {nullptr, "/dev/pts/9", "/dev/ttyS2", "", link},  // built-in stays built-in
      {nullptr, nullptr, "/dev/ttyS2", "", "/dev/ttyS2"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(link);
    if (c.atOpen != nullptr) dir.Link("COM3", c.atOpen);
    ASSERT_TRUE(Open(3));
    EXPECT_EQ(comm.Opened().target, c.atOpen != nullptr ? c.atOpen : "");
    EXPECT_TRUE(comm.ClosePort());
    std::filesystem::remove(link);
    if (c.atReopen != nullptr) dir.Link("COM3", c.atReopen);

    os->ClearCalls();
    os->openResult = Status::kNotFound;  // the fake opens anything; the device is away
    EXPECT_FALSE(comm.ReopenPort());
    // A link whose target is missing is named with it.
    EXPECT_EQ(comm.OpenFailure(),
              (c.target.empty() ? c.reopened : "COM3 -> " + c.target) + ": failed");
    os->openResult = Status::kOk;
    ASSERT_TRUE(comm.ReopenPort());
    EXPECT_THAT(os->Calls(), ElementsAre("Open " + c.reopened, "Open " + c.reopened,
                                         "Configure 9600 8N1", "Purge", "OpenWaker"));
    EXPECT_EQ(comm.Opened().via, c.atOpen != nullptr ? Via::kLink : Via::kBuiltIn);
    EXPECT_EQ(comm.Opened().target, c.target);
    EXPECT_EQ(comm.Opened().Device(), c.target.empty() ? c.reopened : c.target);
    EXPECT_TRUE(comm.ClosePort());

    os->ClearCalls();
    ASSERT_TRUE(Open(3));
    EXPECT_EQ(os->Calls().front(), "Open " + c.fresh);
    EXPECT_TRUE(comm.ClosePort());
  }
  // Never opened, or another port since: as a new open.
  CComm other{os};
  other.SetPortSettings(4, 9600, 8, 0, 0);
  os->ClearCalls();
  ASSERT_TRUE(other.ReopenPort());
  EXPECT_EQ(os->Calls().front(), "Open /dev/ttyS3");
  EXPECT_TRUE(other.ClosePort());
  other.SetPortSettings(3, 9600, 8, 0, 0);
  dir.Link("COM3", "/dev/pts/5");
  os->ClearCalls();
  ASSERT_TRUE(other.ReopenPort());
  EXPECT_EQ(os->Calls().front(), "Open " + link);
  EXPECT_TRUE(other.ClosePort());
}

TEST_F(FakeCommTest, ConfigHomeDefaultsToDotConfig) {
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", "/tmp/nibp-home", 1);
  EXPECT_EQ(CComm::DevicePath(201), "/tmp/nibp-home/.config/quirab_nibp/ports/TELNET");
  ::setenv("HOME", home.c_str(), 1);
}

TEST_F(FakeCommTest, ReaderRejectsAnythingButACComm) {
  CObject other;
  EXPECT_EQ(CComm::CommReaderThread({}, nullptr), -1);
  EXPECT_EQ(CComm::CommReaderThread({}, &other), -1);
}

TEST_F(FakeCommTest, WakeupWithNothingWaitingSendsNothing) {
  ASSERT_TRUE(Open(4));
  os->Feed({1, 2, 3});
  ASSERT_TRUE(win.PumpUntil(3));
  os->SignalReadable();
  ASSERT_TRUE(WaitFor([&] { return comm.m_dwLastRead == 0; }));
  os->Feed({4, 5});
  ASSERT_TRUE(win.PumpUntil(5));
  ASSERT_EQ(win.notices.size(), 2u);
  EXPECT_EQ(win.notices[0].count, 3u);
  EXPECT_EQ(win.notices[1].count, 2u);
  EXPECT_EQ(win.notices[1].wParam, 4u);
  EXPECT_THAT(win.received, ElementsAre(1, 2, 3, 4, 5));
}

TEST_F(FakeCommTest, DeviceGoneLeavesReaderIdleUntilClosed) {
  ASSERT_TRUE(Open());
  os->HangUp();
  ASSERT_TRUE(WaitFor([&] { return comm.ReaderStats().idle; }));
  ASSERT_TRUE(win.Pump());  // said once
  EXPECT_THAT(win.lost, ElementsAre(3u));
  const size_t waits = os->WaitCount();
  EXPECT_FALSE(win.Pump(std::chrono::milliseconds(50)));
  EXPECT_EQ(os->WaitCount(), waits);
  EXPECT_EQ(comm.m_bConnected, 1);  // the owner still sees it open and may close it
  EXPECT_TRUE(comm.ClosePort());

  os->Replug();
  ASSERT_TRUE(Open());
  os->Feed({9});
  ASSERT_TRUE(win.PumpUntil(1));
  EXPECT_FALSE(comm.ReaderStats().idle);
  EXPECT_FALSE(comm.IsLost());
}

}  // namespace
