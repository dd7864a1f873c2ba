// CComm over real pseudo-terminals, mapped to a port number through the ports folder.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <thread>

#include "link/link.h"
#include "serial/comm.h"
#include "serial/platform.h"
#include "serial/terminal_in_use.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using serial_test::PortsDir;
using serial_test::TestWindow;
using serial_test::WaitFor;

// The module's end is the master; the slave is what CComm opens. The slave descriptor from
// openpty stays open so the test can read the line settings back.
class Pty {
 public:
  Pty() {
    if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
    path_ = ::ttyname(slave_);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~Pty() {
    HangUp();
    if (slave_ >= 0) ::close(slave_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  [[nodiscard]] const std::string& Path() const { return path_; }
  [[nodiscard]] int Slave() const { return slave_; }
  [[nodiscard]] int Master() const { return master_; }
  void HangUp() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  void Send(const std::vector<uint8_t>& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + off, bytes.size() - off);
      if (n > 0) {
        off += static_cast<size_t>(n);
      } else {
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 100);
      }
    }
  }

  std::vector<uint8_t> Receive(size_t n) {
    std::vector<uint8_t> out;
    while (out.size() < n) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 10000) <= 0) break;
      uint8_t buf[256];
      const ssize_t got = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
      if (got <= 0) break;
      out.insert(out.end(), buf, buf + got);
    }
    return out;
  }

  // Bytes waiting at the slave, as CComm's reader would see them.
  [[nodiscard]] int SlaveWaiting() const {
    int n = 0;
    ::ioctl(slave_, FIONREAD, &n);
    return n;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

// A session with `slave` as its controlling terminal, as a shell's, until End.
class Session {
 public:
  explicit Session(int slave) {
    int ready[2] = {-1, -1};
    int hold[2] = {-1, -1};
    if (::pipe(ready) != 0 || ::pipe(hold) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      char c = 0;
      if (::setsid() < 0 || ::ioctl(slave, TIOCSCTTY, 0) != 0) ::_exit(1);
      (void)!::write(ready[1], &c, 1);
      ::close(hold[1]);
      (void)!::read(hold[0], &c, 1);  // until the parent lets go
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(hold[0]);
    hold_ = hold[1];
    char c = 0;
    started_ = pid_ > 0 && ::read(ready[0], &c, 1) == 1;
    ::close(ready[0]);
  }
  ~Session() { End(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  [[nodiscard]] bool Started() const { return started_; }
  // The session leader exits and is reaped: the terminal is nobody's.
  void End() {
    if (hold_ >= 0) ::close(hold_);
    hold_ = -1;
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int hold_ = -1;
  bool started_ = false;
};

// The settings a terminal has; equal when nothing of the line was changed.
std::vector<uint8_t> LineOf(int fd) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return {};
  std::vector<uint8_t> v;
  for (const tcflag_t f :
       {t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag, static_cast<tcflag_t>(::cfgetispeed(&t)),
        static_cast<tcflag_t>(::cfgetospeed(&t))}) {
    const auto* b = reinterpret_cast<const uint8_t*>(&f);
    v.insert(v.end(), b, b + sizeof f);
  }
  v.insert(v.end(), t.c_cc, t.c_cc + NCCS);
  int exclusive = 0;
  (void)::ioctl(fd, TIOCGEXCL, &exclusive);
  v.push_back(static_cast<uint8_t>(exclusive));
  return v;
}

std::vector<uint8_t> Pattern(size_t n, size_t from = 0) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((from + i) * 7 + 1);
  return v;
}

constexpr uint8_t kPort = 5;

struct PtyCommTest : ::testing::Test {
  PortsDir dir;
  std::unique_ptr<Pty> pty = std::make_unique<Pty>();
  TestWindow win;
  CComm comm;

  PtyCommTest() {
    win.Attach(&comm);
    dir.Link("COM5", pty->Path());
  }

  BOOL Open(CComm& c, uint32_t baud = 9600, uint8_t bits = 8, uint8_t parity = 0,
            uint8_t stop = 0) {
    c.SetPortSettings(kPort, baud, bits, parity, stop);
    c.SetNotifyWindow(&win);
    (void)c.CreateIoEvents();
    return c.OpenPort();
  }
  BOOL Open() { return Open(comm); }
};

TEST_F(PtyCommTest, LineIsRaw8N1AtTheRecordedBaudRate) {
  struct Case {
    uint8_t bits, parity, stop;
  };
  for (const Case c : {Case{8, 0, 0}, Case{7, 2, 2}}) {
    ASSERT_TRUE(Open(comm, 9600, c.bits, c.parity, c.stop));
    termios t{};
    ASSERT_EQ(::tcgetattr(pty->Slave(), &t), 0);
    EXPECT_EQ(::cfgetispeed(&t), B9600);
    EXPECT_EQ(::cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_TRUE(comm.ClosePort());
    EXPECT_EQ(comm.m_hComm, -1);
  }
  // A rate the device cannot do refuses the open and leaves the device closed.
  EXPECT_FALSE(Open(comm, 12345));
  EXPECT_EQ(comm.m_bConnected, 0);
  EXPECT_EQ(comm.m_hComm, -1);
  EXPECT_TRUE(Open());
  EXPECT_TRUE(comm.ClosePort());
}

// What the line had before the open it has again after the close, also after an open that
// failed half-way, whatever it was.
TEST_F(PtyCommTest, LineSettingsFoundAtOpenArePutBack) {
  termios odd{};
  ASSERT_EQ(::tcgetattr(pty->Slave(), &odd), 0);
  odd.c_lflag &= ~ECHO;
  odd.c_cc[VMIN] = 3;
  ::cfsetispeed(&odd, B4800);
  ::cfsetospeed(&odd, B4800);
  struct Case {
    const termios* set;  // set before the open; none: the line as it is
    uint32_t baud;
    bool opens;
  };
  for (const Case c : {Case{nullptr, 9600, true}, Case{&odd, 9600, true}, Case{&odd, 12345, false},
                       Case{nullptr, 115200, true}}) {
    if (c.set != nullptr) {
      ASSERT_EQ(::tcsetattr(pty->Slave(), TCSANOW, c.set), 0);
    }
    const std::vector<uint8_t> before = LineOf(pty->Slave());
    ASSERT_EQ(Open(comm, c.baud), c.opens ? 1 : 0);
    if (c.opens) {
      EXPECT_NE(LineOf(pty->Slave()), before);
    }
    EXPECT_TRUE(comm.ClosePort());
    EXPECT_EQ(LineOf(pty->Slave()), before) << c.baud;
  }
}

TEST_F(PtyCommTest, BytesTravelBothWaysAndEachBlockIsAnnounced) {
  ASSERT_TRUE(Open());
  const uint8_t frame[] = {0x3A, 0x79, 0x05, 0x00, 0x48};
  EXPECT_TRUE(comm.WritePort(frame, sizeof frame));
  EXPECT_EQ(pty->Receive(5), std::vector<uint8_t>(frame, frame + 5));

  pty->Send({0x3E, 0x05, 0x10, 0x00, 0xAD});
  ASSERT_TRUE(win.PumpUntil(5));
  EXPECT_EQ(win.received, (std::vector<uint8_t>{0x3E, 0x05, 0x10, 0x00, 0xAD}));
  EXPECT_EQ(win.notices.front().wParam, kPort);
  EXPECT_EQ(comm.HasRxData(), 0);

  // The port number recorded while open is carried by the next notice.
  comm.SetPortSettings(7, 9600, 8, 0, 0);
  pty->Send({0x3E});
  ASSERT_TRUE(win.PumpUntil(6));
  EXPECT_EQ(win.notices.back().wParam, 7u);
  EXPECT_EQ(win.notices.back().count, 1u);
  EXPECT_TRUE(comm.ClosePort());
}

// The hand-over coalesces: blocks stored before the owner takes them make one notice, and a
// full ring holds the rest in the device until the owner makes room.
TEST_F(PtyCommTest, OneNoticePerBatchAndTheFullRingHoldsTheRest) {
  ASSERT_TRUE(Open());
  pty->Send({0xAA});
  ASSERT_TRUE(WaitFor([&] { return win.Queued() == 1; }));
  pty->Send(Pattern(100));
  ASSERT_TRUE(WaitFor([&] { return comm.m_nRxWrite == 101; }));
  EXPECT_EQ(win.Queued(), 1u);  // stored behind the pending notice, without one of its own

  const auto burst = Pattern(1500, 100);
  pty->Send(burst);
  // The ring fills and the reader stops reading; a full ring is announced even with a notice
  // pending.
  ASSERT_TRUE(WaitFor([&] { return comm.m_nRxWrite == 1024 && win.Queued() == 2; }));
  ASSERT_TRUE(WaitFor([&] { return pty->SlaveWaiting() == 101 + 1500 - 1024; }));
  ASSERT_TRUE(win.Pump());
  EXPECT_EQ(win.notices[0].count, 1024u);
  ASSERT_TRUE(win.PumpUntil(1 + 100 + 1500));
  EXPECT_LE(win.notices.size(), 4u);
  EXPECT_EQ(win.received[0], 0xAA);
  EXPECT_EQ(std::vector<uint8_t>(win.received.begin() + 1, win.received.end()), Pattern(1600));
  EXPECT_TRUE(comm.ClosePort());
}

// While the owner's ticks take what comes, stored blocks post nothing; a rearming take brings the
// notices back.
TEST_F(PtyCommTest, HeldNoticesStayAwayUntilATakeRearmsThem) {
  ASSERT_TRUE(Open());
  comm.HoldReceive();
  pty->Send(Pattern(40));
  ASSERT_TRUE(WaitFor([&] { return comm.m_nRxWrite == 40; }));
  EXPECT_EQ(win.Queued(), 0u);
  uint8_t buf[sizeof comm.m_rxRing];
  ASSERT_EQ(comm.TakeRx(buf, false), 40u);
  pty->Send(Pattern(10, 40));
  ASSERT_TRUE(WaitFor([&] { return comm.m_nRxWrite == 50; }));
  EXPECT_EQ(win.Queued(), 0u);
  ASSERT_EQ(comm.TakeRx(buf, true), 10u);
  pty->Send(Pattern(5, 50));
  ASSERT_TRUE(win.PumpUntil(5));
  EXPECT_EQ(win.received, Pattern(5, 50));
  EXPECT_TRUE(comm.ClosePort());
}

TEST_F(PtyCommTest, RingWrapsAcrossCloseAndReopen) {
  ASSERT_TRUE(Open());
  pty->Send(Pattern(1000));
  ASSERT_TRUE(win.PumpUntil(1000));
  EXPECT_TRUE(comm.ClosePort());
  ASSERT_TRUE(Open());
  pty->Send(Pattern(100, 1000));
  ASSERT_TRUE(win.PumpUntil(1100));
  EXPECT_TRUE(comm.ClosePort());

  EXPECT_EQ(comm.m_nRxWrite, 1100u);
  EXPECT_EQ(comm.m_nRxRead, 1100u);
  EXPECT_EQ(win.received, Pattern(1100));
  EXPECT_EQ(comm.m_rxRing[0], Pattern(1, 1024)[0]);
  EXPECT_EQ(comm.m_rxRing[75], Pattern(1, 1099)[0]);
}

// Closing while the module streams: the reader may be waiting, reading, storing or waiting for
// room. Every byte it took from the device reaches the owner once, in order.
TEST_F(PtyCommTest, CloseWhileThePeerStreams) {
  // Stopped and joined however the test body ends.
  std::jthread peer([&](std::stop_token stop) {
    uint8_t next = 0;
    while (!stop.stop_requested()) {
      uint8_t chunk[97];
      for (auto& b : chunk) b = next++;
      size_t off = 0;
      while (off < sizeof chunk && !stop.stop_requested()) {
        const ssize_t n = ::write(pty->Master(), chunk + off, sizeof chunk - off);
        if (n > 0) {
          off += static_cast<size_t>(n);
        } else {
          pollfd p{pty->Master(), POLLOUT, 0};
          ::poll(&p, 1, 10);
        }
      }
    }
  });

  // Odd rounds close with a notice still untaken, some with the ring full: the next reader
  // fills what room is left, and that notice takes both. A close drops what the device still
  // held, so the count may jump where one open ends.
  std::set<uint32_t> sessionEnds;
  for (int round = 0; round < 40; ++round) {
    ASSERT_TRUE(Open());
    for (int i = 0; i < round % 4; ++i) ASSERT_TRUE(win.Pump());
    if (round % 2 == 1) {
      ASSERT_TRUE(WaitFor([&] { return win.Queued() >= 1; }));
    }
    EXPECT_TRUE(comm.ClosePort());
    sessionEnds.insert(comm.m_nRxWrite);
  }
  while (win.Pump(0ms)) {
  }
  EXPECT_EQ(comm.HasRxData(), 0);
  EXPECT_EQ(win.received.size(), comm.m_nRxWrite);
  ASSERT_EQ(win.notices.size(), win.blocks.size());
  for (size_t b = 0; b < win.blocks.size(); ++b) {
    EXPECT_EQ(win.blocks[b].size(), win.notices[b].count);
  }
  const auto& got = win.received;
  for (size_t i = 1; i < got.size(); ++i) {
    if (sessionEnds.contains(static_cast<uint32_t>(i))) continue;
    ASSERT_EQ(static_cast<uint8_t>(got[i - 1] + 1), got[i]) << "byte " << i;
  }
}

TEST_F(PtyCommTest, HangUpIdlesTheReaderAndANewDeviceOpens) {
  ASSERT_TRUE(Open());
  pty->Send({1, 2});
  ASSERT_TRUE(win.PumpUntil(2));
  pty->HangUp();
  ASSERT_TRUE(WaitFor([&] { return comm.ReaderStats().idle; }));
  ASSERT_TRUE(win.Pump());  // the loss, said once
  EXPECT_EQ(win.lost.size(), 1u);
  const CommReaderStats idle = comm.ReaderStats();
  EXPECT_LE(idle.wakeups, 4u);
  EXPECT_FALSE(win.Pump(50ms));
  EXPECT_EQ(comm.ReaderStats().wakeups, idle.wakeups);
  EXPECT_EQ(comm.ReaderStats().reads, idle.reads);
  EXPECT_TRUE(comm.ClosePort());

  // The device is back under a new node; the link follows it.
  pty = std::make_unique<Pty>();
  dir.Link("COM5", pty->Path());
  ASSERT_TRUE(Open());
  pty->Send({3});
  ASSERT_TRUE(win.PumpUntil(3));
  EXPECT_EQ(win.received.back(), 3);
  EXPECT_TRUE(comm.ClosePort());
}

// Lost through a link: tried again only through that link, never another device, until it
// points at a device that opens.
TEST_F(PtyCommTest, LostLinkIsTriedOnlyThroughTheLinkWhereverItPoints) {
  const std::string link = (dir.Ports() / "COM5").string();
  ASSERT_TRUE(Open());
  EXPECT_EQ(comm.Opened().target, pty->Path());
  pty->HangUp();
  ASSERT_TRUE(win.Pump());
  ASSERT_EQ(win.lost.size(), 1u);
  EXPECT_TRUE(comm.ClosePort());

  const std::string dangling = pty->Path();  // the node went with the hang-up
  auto next = std::make_unique<Pty>();
  Session shell(next->Slave());
  ASSERT_TRUE(shell.Started());
  const std::vector<uint8_t> shellLine = LineOf(next->Slave());
  struct Step {
    const char* what;
    std::string target;  // where COM5 points, or no link
    std::string failure;
  };
  const Step steps[] = {
      {"link still on the old node", dangling,
       "COM5 -> " + dangling + ": No such file or directory"},
      {"link removed", "", link + ": No such file or directory"},
      {"link on a shell's terminal", next->Path(), link + ": a terminal in use"},
  };
  for (const Step& s : steps) {
    std::filesystem::remove(link);
    if (!s.target.empty()) dir.Link("COM5", s.target);
    EXPECT_FALSE(comm.ReopenPort()) << s.what;
    EXPECT_EQ(comm.OpenFailure(), s.failure) << s.what;
    EXPECT_EQ(comm.Opened().path, link);
  }
  EXPECT_EQ(LineOf(next->Slave()), shellLine);

  // The shell is gone: the same pseudo-terminal is nobody's and opens.
  shell.End();
  ASSERT_TRUE(comm.ReopenPort()) << comm.OpenFailure();
  EXPECT_EQ(comm.Opened().target, next->Path());
  next->Send({7});
  ASSERT_TRUE(win.PumpUntil(1));
  EXPECT_TRUE(comm.ClosePort());
  EXPECT_EQ(LineOf(next->Slave()), shellLine);
}

// While lost, the link retries when the ports folder changes, not only on its 2 s period: a
// device back under a new node is open as soon as its link is made.
TEST_F(PtyCommTest, ALostLinkReopensAsSoonAsItsLinkReappears) {
  struct Host final : modlink::TimerHost {
    void StartTimer(modlink::Timer t, uint32_t ms) override {
      if (t == modlink::Timer::kReopen) reopenMs = ms;
    }
    void StopTimer(modlink::Timer t) override {
      if (t == modlink::Timer::kReopen) reopenMs = 0;
    }
    bool WatchFd(modlink::Timer /*t*/, int f) override {
      fd = f;
      return true;
    }
    uint32_t reopenMs = 0;
    int fd = -1;
  } host;
  protocol::ReplyReceiver rx;
  protocol::TxBuf tx{};
  std::string txLine;
  modlink::Link link({comm, rx, tx, txLine}, host, {});
  ASSERT_TRUE(link.Open(kPort, &win));
  pty->HangUp();
  while (win.lost.empty()) ASSERT_TRUE(win.Pump());
  link.OnLost();
  ASSERT_TRUE(link.Lost());
  EXPECT_EQ(host.reopenMs, modlink::kReopenMs);
  ASSERT_GE(host.fd, 0);
  link.OnTimer(modlink::Timer::kReopen);  // closes; the device is still gone
  ASSERT_TRUE(link.Lost());

  std::filesystem::remove(dir.Ports() / "COM5");
  pty = std::make_unique<Pty>();
  dir.Link("COM5", pty->Path());
  pollfd p{host.fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 1000), 1);  // well inside the period
  link.OnTimer(modlink::Timer::kReopen);
  EXPECT_FALSE(link.Lost());
  EXPECT_TRUE(link.Connected());
  EXPECT_EQ(host.fd, -1);
  EXPECT_EQ(host.reopenMs, 0u);
  pty->Send({9});
  ASSERT_TRUE(win.PumpUntil(1));
  link.Close();
}

// Somebody's shell is never opened, whatever its modes, and is left exactly as it was.
TEST_F(PtyCommTest, ASessionsTerminalIsRefusedAndLeftAsItWas) {
  EXPECT_FALSE(serial::TerminalInUse(pty->Slave()));
  Session shell(pty->Slave());
  ASSERT_TRUE(shell.Started());
  EXPECT_TRUE(serial::TerminalInUse(pty->Slave()));
  termios raw{};
  ASSERT_EQ(::tcgetattr(pty->Slave(), &raw), 0);
  ::cfmakeraw(&raw);  // modes say nothing about whose terminal it is
  ASSERT_EQ(::tcsetattr(pty->Slave(), TCSANOW, &raw), 0);
  const std::vector<uint8_t> before = LineOf(pty->Slave());
  pty->Send({'l', 's'});  // typed by its user, not ours to take
  // The line discipline takes the typed bytes a moment after the master's write.
  for (int i = 0; i < 1000 && pty->SlaveWaiting() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(pty->SlaveWaiting(), 2);

  EXPECT_FALSE(Open());
  EXPECT_EQ(comm.OpenFailure(), (dir.Ports() / "COM5").string() + ": a terminal in use");
  EXPECT_EQ(comm.m_hComm, -1);
  serial::Handle h = serial::kInvalidHandle;
  EXPECT_EQ(serial::MakePosixPlatform()->Open(pty->Path(), h), serial::Status::kInUse);
  EXPECT_EQ(h, serial::kInvalidHandle);
  EXPECT_EQ(LineOf(pty->Slave()), before);
  EXPECT_EQ(pty->SlaveWaiting(), 2);
  pollfd p{pty->Master(), POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 0), 0);  // nothing written to it

  shell.End();
  EXPECT_FALSE(serial::TerminalInUse(pty->Slave()));
  EXPECT_TRUE(Open());
  EXPECT_TRUE(comm.ClosePort());
}

TEST_F(PtyCommTest, SecondOpenerIsRefused) {
  ASSERT_TRUE(Open());
  CComm other;
  EXPECT_FALSE(Open(other));
  EXPECT_EQ(other.m_hComm, -1);
  serial::Handle h = serial::kInvalidHandle;
  EXPECT_EQ(serial::MakePosixPlatform()->Open(pty->Path(), h), serial::Status::kBusy);
  EXPECT_EQ(h, serial::kInvalidHandle);
  EXPECT_TRUE(comm.ClosePort());
  EXPECT_TRUE(Open(other));
  EXPECT_TRUE(other.ClosePort());
}

TEST_F(PtyCommTest, DestroyingAnOpenPortClosesIt) {
  {
    CComm doomed;
    ASSERT_TRUE(Open(doomed));
    pty->Send({1});
    // Its reader is blocked in a hand-over nobody will take.
    ASSERT_TRUE(WaitFor([&] { return win.Queued() == 1; }));
  }
  win.Destroy();  // the window goes with it
  CComm next;
  EXPECT_TRUE(Open(next));
  EXPECT_TRUE(next.ClosePort());
}

}  // namespace
