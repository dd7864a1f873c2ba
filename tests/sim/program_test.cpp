// Runs the real nibp-sim on a pseudo-terminal and talks to it through its port link, as the
// console would. Every wait is a poll with a generous deadline.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/frames.h"
#include "support/sent_log.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(20);

int MsLeft(Clock::time_point until) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
  return static_cast<int>(std::max<long>(left.count(), 0));
}

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "nibp-sim-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  [[nodiscard]] const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// nibp-sim (or another of the programs) as a child process with its output on a pipe, without a
// display.
class SimProcess {
 public:
  SimProcess(const fs::path& xdg, std::vector<std::string> args, const char* exe = NIBP_SIM) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    out_ = fds[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    args.insert(args.begin(), exe);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = {"XDG_CONFIG_HOME=" + xdg.string()};
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string_view v(*e);
      if (!v.starts_with("XDG_CONFIG_HOME=") && !v.starts_with("DISPLAY=") &&
          !v.starts_with("WAYLAND_DISPLAY=") && !v.starts_with("QT_QPA_PLATFORM="))
        env.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (::posix_spawn(&pid_, exe, &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
  }
  ~SimProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  [[nodiscard]] bool running() const { return pid_ > 0; }

  // The next output line that contains `text`, or nothing at the deadline or the end.
  std::optional<std::string> WaitForLine(const std::string& text) {
    const auto until = Clock::now() + kDeadline;
    while (true) {
      for (size_t nl; (nl = buffer_.find('\n')) != std::string::npos;) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        if (line.find(text) != std::string::npos) return line;
      }
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, MsLeft(until)) <= 0) return std::nullopt;
      char buf[512];
      const ssize_t n = ::read(out_, buf, sizeof buf);
      if (n <= 0) return std::nullopt;
      buffer_.append(buf, static_cast<size_t>(n));
    }
  }

  // Signals the program and waits until it has ended; its exit status, or -1.
  int Stop(int sig) {
    ::kill(pid_, sig);
    return Wait();
  }

  // Everything it printed that no WaitForLine took, once it has ended.
  [[nodiscard]] const std::string& output() const { return buffer_; }

  int Wait() {
    // Its end closes the pipe.
    const auto until = Clock::now() + kDeadline;
    while (true) {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, MsLeft(until)) <= 0) return -1;
      char buf[512];
      const ssize_t n = ::read(out_, buf, sizeof buf);
      if (n <= 0) break;
      buffer_.append(buf, static_cast<size_t>(n));
    }
    int status = 0;
    if (::waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
};

// The console's side of the line, opened through the port link.
class Line {
 public:
  explicit Line(const fs::path& link) : fd_(::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~Line() {
    if (fd_ >= 0) ::close(fd_);
  }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;
  [[nodiscard]] bool open() const { return fd_ >= 0; }
  [[nodiscard]] int fd() const { return fd_; }

  [[nodiscard]] bool Send(const Bytes& b) {
    return ::write(fd_, b.data(), b.size()) == static_cast<ssize_t>(b.size());
  }

  // Exactly n bytes, or fewer at the deadline.
  Bytes Receive(size_t n) {
    Bytes got;
    const auto until = Clock::now() + kDeadline;
    while (got.size() < n) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, MsLeft(until)) <= 0) break;
      std::array<uint8_t, 64> buf{};
      const ssize_t r = ::read(fd_, buf.data(), std::min(buf.size(), n - got.size()));
      if (r <= 0) break;
      got.insert(got.end(), buf.begin(), buf.begin() + r);
    }
    return got;
  }

  Bytes Ask(const Bytes& command, size_t replyLength) {
    if (!Send(command)) return {};
    return Receive(replyLength);
  }

 private:
  int fd_;
};

const Bytes kGetPressure = {0x3A, 0x79, 0x05, 0x00, 0x48};
const Bytes kGetBpData = {0x3A, 0x79, 0x03, 0x00, 0x4A};
const Bytes kStartAdult = {0x3A, 0x20, 0xA6};

void ExpectPressureReply(const Bytes& r) {
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(r[0], 0x3E);
  EXPECT_EQ(r[1], 0x05);
  EXPECT_TRUE(protocol::SumsToZero(r));
}

TEST(Program, AnswersThroughItsLinkAndRemovesItOnSigterm) {
  TempDir xdg;
  ASSERT_FALSE(xdg.path().empty());
  const fs::path link = xdg.path() / "quirab_nibp" / "ports" / "COM3";
  SimProcess sim(xdg.path(), {"--port", "COM3", "--speed", "50", "--systolic", "135", "--diastolic",
                              "85", "--heart-rate", "66"});
  ASSERT_TRUE(sim.running());
  const auto announced = sim.WaitForLine("COM3 -> /dev/pts/");
  ASSERT_TRUE(announced) << "no link announced";
  ASSERT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(announced->substr(announced->find("/dev/")), fs::read_symlink(link).string());

  {  // A console that came and went must not hang the line up.
    Line first(link);
    ASSERT_TRUE(first.open());
  }
  Line line(link);
  ASSERT_TRUE(line.open());
  ExpectPressureReply(line.Ask(kGetPressure, 5));

  // A whole measurement: at 50 times the speed it ends within a second or so.
  EXPECT_EQ(line.Ask(kStartAdult, 4), (Bytes{0x3E, 0x04, 0x4B, 0x73}));
  ASSERT_TRUE(sim.WaitForLine("result:"));
  const Bytes r = line.Ask(kGetBpData, 22);
  ASSERT_EQ(r.size(), 22u);
  EXPECT_TRUE(protocol::SumsToZero(r));
  EXPECT_EQ(r[2] | (r[3] << 8), 135);
  EXPECT_EQ(r[4] | (r[5] << 8), 85);
  EXPECT_EQ(r[16] | (r[17] << 8), 66);
  EXPECT_EQ(r[18] | (r[19] << 8), 102);
  EXPECT_EQ(r[20], 0);

  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(Program, HangsUpAndComesBackOnANewLine) {
  struct Case {
    std::vector<std::string> args;
    int hangups;  // seen in a row
  };
  for (const Case& c :
       {Case{{"--hangup-after", "0.3", "--reopen"}, 1}, Case{{"--hangup-every", "0.3"}, 3}}) {
    SCOPED_TRACE(c.args.front());
    TempDir xdg;
    const fs::path link = xdg.path() / "quirab_nibp" / "ports" / "COM1";
    SimProcess sim(xdg.path(), c.args);
    ASSERT_TRUE(sim.WaitForLine("COM1 -> "));
    for (int i = 0; i < c.hangups; ++i) {
      ASSERT_TRUE(sim.WaitForLine("hang-up"));
      ASSERT_TRUE(sim.WaitForLine("COM1 -> ")) << "the line did not come back";
    }
    if (c.hangups == 1) {  // the next hang-up of the other case could cut the answer
      Line line(link);
      ASSERT_TRUE(line.open());
      ExpectPressureReply(line.Ask(kGetPressure, 5));
    }
    EXPECT_EQ(sim.Stop(SIGINT), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  }
}

TEST(Program, WithoutReopenItEndsAtTheHangUp) {
  TempDir xdg;
  const fs::path link = xdg.path() / "quirab_nibp" / "ports" / "COM1";
  SimProcess sim(xdg.path(), {"--hangup-after", "0.2", "--quiet"});
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(Program, AnswersHelpAndVersionWithoutADisplay) {
  struct Case {
    const char* exe;
    std::vector<std::string> args;
    int status;
    std::string output;  // the whole output, or its start when it ends in "..."
  };
  std::vector<Case> cases = {
      {NIBP_SIM, {"--version"}, 0, "nibp-sim (QUIRAB_NIBP) 1.0.0.1\n"},
      {NIBP_SIM, {"--port", "COM2", "--help"}, 0, "Usage: nibp-sim [OPTION]...\n..."},
      {NIBP_SIM,
       {"--replay", "/nonexistent/session"},
       1,
       "nibp-sim: cannot read /nonexistent/session: ..."},
      // A read error is said as such, not as a file without frames.
      {NIBP_SIM, {"--replay", "/"}, 1, "nibp-sim: cannot read /: Is a directory\n"},
  };
#ifdef NIBP_CONSOLE
  cases.push_back({NIBP_CONSOLE, {"--version"}, 0, "QUIRAB_NIBP 1.0.0.1\n"});
  cases.push_back(
      {NIBP_CONSOLE, {"-platform", "xcb", "--help"}, 0, "Usage: QUIRAB_NIBP [OPTION]...\n..."});
  cases.push_back({NIBP_CONSOLE, {}, 1, "QUIRAB_NIBP: no display..."});
#endif
#ifdef NIBP_CLI
  cases.push_back({NIBP_CLI, {"--version"}, 0, "nibp-cli (QUIRAB_NIBP) 1.0.0.1\n"});
  cases.push_back({NIBP_CLI,
                   {"measure", "--count", "x", "--help"},
                   0,
                   "Usage: nibp-cli [--port COMn | --device PATH] [--json] COMMAND..."});
#endif
  TempDir xdg;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.exe) + " " + (c.args.empty() ? "" : c.args.back()));
    SimProcess p(xdg.path(), c.args, c.exe);
    EXPECT_EQ(p.Wait(), c.status);
    if (c.output.ends_with("...")) {
      EXPECT_TRUE(p.output().starts_with(c.output.substr(0, c.output.size() - 3))) << p.output();
    } else {
      EXPECT_EQ(p.output(), c.output);
    }
  }
}

// What stands at COMn before the simulator starts, and what it must find there after.
TEST(Program, KeepsTheUsersMappings) {
  const int ptm = ::posix_openpt(O_RDWR | O_NOCTTY);  // another simulator's line
  ASSERT_GE(ptm, 0);
  ASSERT_EQ(::grantpt(ptm) | ::unlockpt(ptm), 0);
  const std::string otherPty = ::ptsname(ptm);
  enum Before { kLinkTo, kFile };
  struct Case {
    const char* name;
    Before before;
    std::string target;
    bool force;
    bool refused;         // exit 2 with one line, the entry untouched
    std::string after;    // the link's target at the end; empty: no link
    bool killed = false;  // killed outright: the next start puts the mapping back
  };
  const Case cases[] = {
      {"a device", kLinkTo, "/dev/null", false, true, "/dev/null"},
      {"a device, forced", kLinkTo, "/dev/null", true, false, "/dev/null"},
      {"a file", kLinkTo, "/etc/hostname", false, true, "/etc/hostname"},
      {"a dangling link", kLinkTo, "/dev/pts/9999", false, false, ""},
      {"a link to an unplugged adapter", kLinkTo, "/dev/ttyUSB97", false, false, "/dev/ttyUSB97"},
      {"another simulator's line", kLinkTo, otherPty, false, false, ""},
      {"no link at all, forced", kFile, "", true, true, ""},
      {"a device, forced, killed", kLinkTo, "/dev/null", true, false, "/dev/null", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir xdg;
    const fs::path link = xdg.path() / "quirab_nibp" / "ports" / "COM4";
    fs::create_directories(link.parent_path());
    if (c.before == kLinkTo) fs::create_symlink(c.target, link);
    if (c.before == kFile) std::ofstream(link) << "mine\n";
    std::vector<std::string> args = {"--port", "COM4"};
    if (c.force) args.emplace_back("--force");
    SimProcess sim(xdg.path(), args);
    if (c.refused) {
      EXPECT_EQ(sim.Wait(), 2);
      EXPECT_EQ(std::count(sim.output().begin(), sim.output().end(), '\n'), 1) << sim.output();
      EXPECT_NE(sim.output().find("COM4"), std::string::npos);
    } else {
      ASSERT_TRUE(sim.WaitForLine("COM4 -> /dev/pts/"));
      EXPECT_TRUE(fs::read_symlink(link).string().starts_with("/dev/pts/"));
      EXPECT_EQ(sim.Stop(c.killed ? SIGKILL : SIGTERM), c.killed ? -1 : 0);
    }
    const fs::path saved = link.parent_path() / ".COM4.previous";
    if (c.killed) {
      std::ifstream in(saved);
      std::string kept;
      std::getline(in, kept);
      EXPECT_EQ(kept, c.target);
      SimProcess next(xdg.path(), {"--port", "COM4"});  // puts it back, then leaves it alone
      EXPECT_EQ(next.Wait(), 2);
      EXPECT_NE(next.output().find("COM4 was mapped to /dev/null before a nibp-sim was killed"),
                std::string::npos)
          << next.output();
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(saved)));
    if (c.before == kFile) {
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(link)));
    } else if (c.after.empty()) {
      EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    } else {
      ASSERT_TRUE(fs::is_symlink(link));
      EXPECT_EQ(fs::read_symlink(link).string(), c.after);
    }
  }
  ::close(ptm);
}

// A console killed outright leaves exclusive mode on the line; the simulator clears it.
TEST(Program, ClearsTheExclusiveModeOfAKilledConsole) {
  TempDir xdg;
  const fs::path link = xdg.path() / "quirab_nibp" / "ports" / "COM1";
  SimProcess sim(xdg.path(), {});
  ASSERT_TRUE(sim.WaitForLine("COM1 -> "));
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t console = ::fork();
  ASSERT_GE(console, 0);
  if (console == 0) {  // opens the line as the console does, then waits to be killed
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    const bool ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::ioctl(fd, TIOCEXCL) == 0;
    (void)!::write(ready[1], ok ? "y" : "n", 1);
    while (true) ::pause();
  }
  ::close(ready[1]);
  char answer = 0;
  ASSERT_EQ(::read(ready[0], &answer, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(answer, 'y');
  Line probe(link);  // root passes exclusive mode; others would get EBUSY here
  ASSERT_TRUE(probe.open());
  int exclusive = 0;
  ASSERT_EQ(::ioctl(probe.fd(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);
  ::kill(console, SIGKILL);
  ::waitpid(console, nullptr, 0);
  ASSERT_TRUE(sim.WaitForLine("exclusive mode cleared"));
  ASSERT_EQ(::ioctl(probe.fd(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  EXPECT_EQ(::flock(probe.fd(), LOCK_EX | LOCK_NB), 0)
      << "the next console could not lock the line";
}

// A recorded session played at twice its speed: every frame the module sent, at its time.
TEST(Program, ReplaysASessionFromTheFirstCommand) {
  TempDir xdg;
  const fs::path session = xdg.path() / "day.session";
  const fs::path times = xdg.path() / "sent-times";
  std::ofstream(session)
      << "2026-12-07T09:30:00.000+00:00\tS\tCom_Port 1 Open\n"
         "2026-12-07T09:30:00.950+00:00\tR\tPC --> MODULE <3A><79><05><00><48>\n"
         "2026-12-07T09:30:01.000+00:00\tR\tPC <-- MODULE <3E><05><A0><00><1D>\n"
         "2026-12-07T09:30:01.000+00:00\tE\tCuff pressure 160 mmHg\n"
         "2026-12-07T09:30:01.200+00:00\tN\tPC <-- MODULE <11><22> dropped\n"
         "2026-12-07T09:30:01.400+00:00\tR\tPC <-- MODULE <3E><04><4B><73>\n"
         "2026-12-07T09:30:01.600+00:00\tB\tPC <-- MODULE <3E><04><4B><74> checksum error\n"
         "2026-12-07T09:30:02.000+00:00\tR\tPC <-- MODULE <3E><04><4B><73>\n";
  SimProcess sim(xdg.path(), {"--replay", session.string(), "--speed", "2", "--log-sent-times",
                              times.string()});
  ASSERT_TRUE(sim.WaitForLine("COM1 -> "));
  Line line(fs::path(xdg.path()) / "quirab_nibp" / "ports" / "COM1");
  ASSERT_TRUE(line.open());
  ASSERT_TRUE(line.Send(kGetBpData));
  EXPECT_TRUE(sim.WaitForLine("received 3a 79 03 00 4a"));
  EXPECT_EQ(line.Receive(19), (Bytes{0x3E, 0x05, 0xA0, 0x00, 0x1D, 0x11, 0x22, 0x3E, 0x04, 0x4B,
                                     0x73, 0x3E, 0x04, 0x4B, 0x74, 0x3E, 0x04, 0x4B, 0x73}));
  ASSERT_TRUE(sim.WaitForLine("replay finished"));

  // Good frames only in the log, at the recorded offsets halved. Gaps are measured from the first
  // frame's own send, which a loaded machine may delay: a later gap may then look a little short.
  // "replay finished" is said when the last frame is queued; its time is logged once it is written.
  std::vector<testsupport::SentFrame> sent;
  for (int tries = 0; tries < 400 && sent.size() < 3; ++tries) {
    if (tries > 0) ::usleep(5000);
    sent = testsupport::ReadSentTimes(times);
  }
  ASSERT_EQ(sent.size(), 3u);
  std::vector<long long> sentNs;
  for (const auto& f : sent) sentNs.push_back(f.ns);
  const long long expectedMs[] = {0, 200, 500};
  for (size_t i = 1; i < sentNs.size(); ++i) {
    const long long gapMs = (sentNs[i] - sentNs[0]) / 1000000;
    EXPECT_GE(gapMs, expectedMs[i] - 20) << i;
    EXPECT_LE(gapMs, expectedMs[i] + 150) << i;
  }
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

// A burst follows the reply to the first command; numbered, each frame shows where it belongs.
// It is larger than the line holds, so the simulator waits for room more than once.
TEST(Program, SendsANumberedBurstWholeAfterTheFirstCommand) {
  TempDir xdg;
  constexpr size_t kFrames = 3000;
  SimProcess sim(xdg.path(), {"--burst", std::to_string(kFrames), "--numbered", "--quiet"});
  ASSERT_TRUE(sim.running());
  const fs::path link = xdg.path() / "quirab_nibp" / "ports" / "COM1";
  for (int i = 0; i < 2000 && !fs::exists(link); ++i) ::usleep(5000);
  Line line(link);
  ASSERT_TRUE(line.open());
  const Bytes got = line.Ask(kGetBpData, 22 + kFrames * 5);
  ASSERT_EQ(got.size(), 22 + kFrames * 5);
  for (size_t i = 0; i < kFrames; ++i) {
    const Bytes f(got.begin() + static_cast<long>(22 + i * 5),
                  got.begin() + static_cast<long>(27 + i * 5));
    ExpectPressureReply(f);
    ASSERT_EQ(f[2] | f[3] << 8, static_cast<int>(i));
  }
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

#ifdef NIBP_CONSOLE
// Each of these signals ends the console as its close box does: a clean exit, its session file
// closed with everything recorded.
TEST(Program, TheConsoleEndsCleanlyOnTerminationSignals) {
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    TempDir xdg;
    const fs::path sessions = xdg.path() / "state" / "quirab_nibp" / "sessions";
    const std::string oldState = std::getenv("XDG_STATE_HOME") ? std::getenv("XDG_STATE_HOME") : "";
    ::setenv("XDG_STATE_HOME", (xdg.path() / "state").c_str(), 1);
    SimProcess console(xdg.path(), {"-platform", "offscreen"}, NIBP_CONSOLE);
    if (oldState.empty()) {
      ::unsetenv("XDG_STATE_HOME");
    } else {
      ::setenv("XDG_STATE_HOME", oldState.c_str(), 1);
    }
    ASSERT_TRUE(console.running());
    // The window is up once its session file is there.
    const auto until = Clock::now() + kDeadline;
    bool up = false;
    while (!up && Clock::now() < until) {
      std::error_code ec;
      up = fs::directory_iterator(sessions, ec) != fs::directory_iterator();
      if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(up);
    EXPECT_EQ(console.Stop(sig), 0) << console.output();
  }
}
#endif

TEST(Program, PlaysAGaugeOfTheTrueCuffPressureOnASecondLine) {
  TempDir xdg;
  const fs::path ports = xdg.path() / "quirab_nibp" / "ports";
  SimProcess sim(xdg.path(),
                 {"--port", "COM3", "--gauge", "COM4", "--sensor-offset", "-20", "--speed", "4"});
  ASSERT_TRUE(sim.WaitForLine("COM4 -> /dev/pts/"));
  Line module(ports / "COM3");
  Line gauge(ports / "COM4");
  ASSERT_TRUE(module.open() && gauge.open());
  protocol::TxBuf tx;
  const size_t n = protocol::BuildPneumatics(tx, true, true, true);
  EXPECT_EQ(module.Ask(Bytes(tx.begin(), tx.begin() + static_cast<long>(n)), 4),
            (Bytes{0x3E, 0x04, 0x4B, 0x73}));
  // Lines that waited while nobody read are old: from now on only.
  ::tcflush(gauge.fd(), TCIFLUSH);
  double last = 0;
  for (int lines = 0; lines < 40 && last < 100; ++lines) {
    std::string line;
    while (line.empty() || line.back() != '\n') {
      const Bytes b = gauge.Receive(1);
      if (b.empty()) break;
      line += static_cast<char>(b[0]);
    }
    ASSERT_TRUE(line.ends_with(" mmHg\r\n")) << line;
    last = std::stod(line);
  }
  EXPECT_GE(last, 100);  // the pump runs: 80 mmHg a second at four times the speed
  // Held: the module reads 20 below the gauge.
  const size_t hold = protocol::BuildPneumatics(tx, false, true, true);
  EXPECT_EQ(module.Ask(Bytes(tx.begin(), tx.begin() + static_cast<long>(hold)), 4),
            (Bytes{0x3E, 0x04, 0x4B, 0x73}));
  ::tcflush(gauge.fd(), TCIFLUSH);
  std::string held;
  while (held.empty() || held.back() != '\n') {
    const Bytes b = gauge.Receive(1);
    ASSERT_FALSE(b.empty());
    held += static_cast<char>(b[0]);
  }
  const Bytes r = module.Ask(kGetPressure, 5);
  ASSERT_EQ(r.size(), 5u);
  EXPECT_NEAR(r[2] | (r[3] << 8), std::stod(held) - 20, 0.51) << held;
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(ports / "COM4")));
}

TEST(Program, RefusesBadOptions) {
  TempDir xdg;
  for (std::vector<std::string> args : {std::vector<std::string>{"--port", "LPT1"},
                                        {"--systolic", "80", "--diastolic", "90"},
                                        {"--noise", "2"},
                                        {"--reopen"},
                                        {"--loop"},
                                        {"--replay", "f", "--stream", "4"},
                                        {"--replay", "f", "--burst", "4"},
                                        {"--burst", "0"},
                                        {"--leak", "x"},
                                        {"--gauge", "COM1"},  // the module's own port
                                        {"stray"}}) {
    SCOPED_TRACE(args.front());
    SimProcess sim(xdg.path(), args);
    EXPECT_EQ(sim.Wait(), 2);
  }
  EXPECT_FALSE(fs::exists(xdg.path() / "quirab_nibp"));
}

}  // namespace
