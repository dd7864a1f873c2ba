// What the console costs the machine, with the real Qt window (offscreen unless a platform is
// chosen):
//   bench_cpu startup              time from exec to the console shown and painted, median of 7
//   bench_cpu idle SIM SECONDS     CPU and wake-ups with the port open on the simulator, no traffic
//   bench_cpu polling SIM SECONDS  the same with "Auto Pressure Display" checked
//   bench_cpu stream SIM SECONDS   the same with the module sending 190 frames a second unasked
//   bench_cpu lost SIM SECONDS     the port lost (the simulator gone), the console retrying
//   bench_cpu flood SIM FRAMES     FRAMES frames as fast as the line takes them: when the last is
//                                  in view after the simulator sent it, and the CPU they took
// Prints table rows; the per-thread wake-ups go to the output above them.

#include <dirent.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "console/nibp_dlg.h"
#include "framework/qt/log_view.h"
#include "framework/qt/qt_backend.h"
#include "framework/qt/qt_window.h"
#include "res/resource.h"
#include "support/sent_log.h"
#include "support/sim_process.h"

namespace {

constexpr int kStartupRuns = 7;
constexpr const char* kStreamHz = "190";  // about the most a module sends at 9600 baud
constexpr int kWaitMs = 10'000;
// Left to the console after the port opens, so that the measurement starts from a settled window
// whose text cursor no longer blinks: the state it stays in while nobody uses it.
constexpr int kSettleMs = static_cast<int>(fw::qt::kCaretBlinkTimeout.count()) + 1'000;

int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

std::string SelfPath() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Runs the event loop until `done` or the timeout; false on timeout.
template <typename Done>
bool RunUntil(Done done, int timeoutMs) {
  const int64_t deadline = MonotonicNs() + int64_t{timeoutMs} * 1'000'000;
  while (!done()) {
    if (MonotonicNs() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  return true;
}

void RunFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// ---- start-up ----

// Notes the first paint of the dialog; the pass that paints its controls ends before the
// zero-timer queued then fires.
class FirstPaint : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !queued_) {
      queued_ = true;
      QTimer::singleShot(0, this, [this] { shownNs_ = MonotonicNs(); });
    }
    return QObject::eventFilter(watched, event);
  }
  [[nodiscard]] int64_t ShownNs() const { return shownNs_; }

 private:
  bool queued_ = false;
  int64_t shownNs_ = 0;
};

// The child: the console as the application starts it, up to its first painted frame.
int ChildStartup(int argc, char** argv) {
  fw::qt::QtBackend ui(argc, argv);
  CNibpDlg dlg(ui);
  if (!dlg.Create()) return 1;
  QDialog* d = dynamic_cast<fw::qt::QtWindow&>(*dlg.GetWindow()).Dialog();
  FirstPaint paint;
  d->installEventFilter(&paint);
  d->show();
  if (!RunUntil([&] { return paint.ShownNs() != 0; }, kWaitMs)) return 1;
  std::printf("%lld\n", static_cast<long long>(paint.ShownNs()));
  std::fflush(stdout);
  dlg.EndDialog(IDCANCEL);
  return 0;
}

// Spawns this program as the child; the start-up time in ms, or a negative number.
double OneStartup(const std::string& self) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  std::string arg0 = self, arg1 = "--child-startup";
  char* argv[] = {arg0.data(), arg1.data(), nullptr};
  pid_t pid = -1;
  const int64_t start = MonotonicNs();
  const int rc = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string out;
  if (rc == 0) {
    char buf[256];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
      out.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || out.empty()) return -1;
  return static_cast<double>(std::atoll(out.c_str()) - start) / 1e6;
}

int Startup() {
  const std::string self = SelfPath();
  std::vector<double> ms;
  for (int i = 0; i < kStartupRuns; ++i) {
    const double t = OneStartup(self);
    if (t < 0) {
      std::fprintf(stderr, "start-up run %d failed\n", i + 1);
      continue;
    }
    std::printf("start-up run %d: %.1f ms\n", i + 1, t);
    ms.push_back(t);
  }
  if (ms.empty()) return 1;
  std::sort(ms.begin(), ms.end());
  std::printf(
      "| start-up: exec to the console window shown and painted | %.0f ms | - | median of %zu "
      "runs (%.0f..%.0f ms), offscreen |\n",
      ms[ms.size() / 2], ms.size(), ms.front(), ms.back());
  return 0;
}

// ---- CPU and wake-ups ----

struct Usage {
  int64_t wallNs = 0;
  double cpuSeconds = 0;  // user + system, every thread
  long voluntary = 0;     // context switches by blocking: each is followed by a wake-up
  long involuntary = 0;
};

Usage Now() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  const auto seconds = [](const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6;
  };
  return {MonotonicNs(), seconds(ru.ru_utime) + seconds(ru.ru_stime), ru.ru_nvcsw, ru.ru_nivcsw};
}

struct ThreadCount {
  std::string name;
  long voluntary = 0;
  double cpuSeconds = 0;  // user and system time
};

// Voluntary context switches of every thread, by thread id.
std::map<int, ThreadCount> Threads() {
  std::map<int, ThreadCount> out;
  DIR* dir = opendir("/proc/self/task");
  if (dir == nullptr) return out;
  while (const dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    const std::string base = std::string("/proc/self/task/") + e->d_name;
    ThreadCount t;
    std::ifstream(base + "/comm") >> t.name;
    std::ifstream status(base + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
        t.voluntary = std::atol(line.c_str() + 24);
    }
    // utime and stime are the 14th and 15th fields, after the name in parentheses.
    std::string stat;
    std::getline(std::ifstream(base + "/stat"), stat);
    if (const size_t close = stat.rfind(')'); close != std::string::npos) {
      std::istringstream fields(stat.substr(close + 2));
      std::string skip;
      for (int i = 3; i < 14; ++i) fields >> skip;
      long utime = 0, stime = 0;
      fields >> utime >> stime;
      t.cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    out[std::atoi(e->d_name)] = t;
  }
  closedir(dir);
  return out;
}

enum class Load { kIdle, kPolling, kStream, kLost };

// The console window shown, its port open on a simulator started with `simArgs` (and, when
// asked, logging its send times to SentLog()).
class ConsoleOnSim {
 public:
  ConsoleOnSim(const std::string& sim, std::vector<std::string> simArgs, bool logSentTimes,
               int& argc, char** argv) {
    simArgs.insert(simArgs.begin(), {"--port", "COM1", "--quiet"});
    if (logSentTimes) simArgs.insert(simArgs.end(), {"--log-sent-times", SentLog()});
    simulator_ = std::make_unique<testsupport::SimProcess>(sim, simArgs);
    if (!simulator_->Running() || !testsupport::SimProcess::WaitForPath(
                                      home_.PortLink("COM1"), std::chrono::milliseconds(kWaitMs))) {
      std::fprintf(stderr, "the simulator did not start: %s\n", sim.c_str());
      return;
    }
    ui_ = std::make_unique<fw::qt::QtBackend>(argc, argv);
    dlg_ = std::make_unique<CNibpDlg>(*ui_);
    if (!dlg_->Create()) return;
    window_ = &dynamic_cast<fw::qt::QtWindow&>(*dlg_->GetWindow());
    window_->Dialog()->show();
    Click(IDC_PORT_OPEN);
    if (window_->GetText(IDC_PORT_STATUS) != "COM1 OPEN") {
      std::fprintf(stderr, "the port did not open\n");
      window_ = nullptr;
    }
  }
  // Null when the simulator, the window or the port failed.
  [[nodiscard]] fw::qt::QtWindow* Window() const { return window_; }
  void Click(int id) const { dynamic_cast<QAbstractButton&>(*window_->Control(id)).click(); }
  [[nodiscard]] std::string SentLog() const { return home_.Dir() + "/sent-times"; }
  testsupport::SimProcess& Simulator() { return *simulator_; }

 private:
  testsupport::TempConfigHome home_;
  std::unique_ptr<testsupport::SimProcess> simulator_;
  std::unique_ptr<fw::qt::QtBackend> ui_;
  std::unique_ptr<CNibpDlg> dlg_;
  fw::qt::QtWindow* window_ = nullptr;
};

int Measure(Load load, const std::string& sim, int seconds, int argc, char** argv) {
  std::vector<std::string> simArgs;
  if (load == Load::kStream) simArgs = {"--stream", kStreamHz};
  ConsoleOnSim bench(sim, simArgs, false, argc, argv);
  if (bench.Window() == nullptr) return 1;
  auto& window = *bench.Window();
  testsupport::SimProcess& simulator = bench.Simulator();
  const auto click = [&](int id) { bench.Click(id); };
  if (load == Load::kPolling) click(IDC_AUTO_PRESSURE);
  if (load == Load::kStream) click(IDC_GET_PRESSURE);  // the stream starts with a command
  if (load == Load::kLost) {
    (void)simulator.Stop();  // the device goes and stays away
    RunFor(kSettleMs);
    if (window.GetText(IDC_PORT_STATUS) != "COM1 LOST") {
      std::fprintf(stderr, "the port was not lost\n");
      return 1;
    }
  }
  RunFor(kSettleMs);

  const int firstLine = window.ListCount(IDC_LIST_EVENT);
  const auto threadsBefore = Threads();
  const Usage before = Now();
  RunFor(seconds * 1000);
  const Usage after = Now();
  const auto threadsAfter = Threads();
  int polls = 0, replies = 0;
  const auto* log = window.ListModel(IDC_LIST_EVENT);
  for (int i = firstLine; i < log->Count(); ++i) {
    polls += log->Line(i) == "-- Get Pressure --" ? 1 : 0;
    replies += log->Line(i).starts_with("Cuff pressure: ") ? 1 : 0;
  }
  click(IDC_PORT_CLOSE);

  const double wall = static_cast<double>(after.wallNs - before.wallNs) / 1e9;
  const double cpuPercent = (after.cpuSeconds - before.cpuSeconds) / wall * 100;
  const double wakeups = static_cast<double>(after.voluntary - before.voluntary) / wall;
  std::printf("over %.1f s: cpu %.3f s, voluntary switches %ld, involuntary %ld\n", wall,
              after.cpuSeconds - before.cpuSeconds, after.voluntary - before.voluntary,
              after.involuntary - before.involuntary);
  for (const auto& [tid, t] : threadsAfter) {
    const auto it = threadsBefore.find(tid);
    const long was = it == threadsBefore.end() ? 0 : it->second.voluntary;
    const double cpuWas = it == threadsBefore.end() ? 0 : it->second.cpuSeconds;
    std::printf("  thread %d %-16s %.2f wake-ups/s, %.3f %% of a core\n", tid, t.name.c_str(),
                static_cast<double>(t.voluntary - was) / wall,
                (t.cpuSeconds - cpuWas) / wall * 100);
  }

  // The run's own end timer is one of the wake-ups.
  if (load == Load::kIdle) {
    std::printf(
        "| idle console, port open, no traffic: CPU | %.3f %% of a core | < 0.1 %% | %.0f s after "
        "%d s settling; getrusage user+sys, all threads |\n",
        cpuPercent, wall, kSettleMs / 1000);
    std::printf(
        "| idle console: wake-ups | %.2f /s | none but its own timers (none runs) | %.0f s; "
        "voluntary context switches, all threads |\n",
        wakeups, wall);
  } else if (load == Load::kPolling) {
    std::printf(
        "| polling every 250 ms (Auto Pressure Display): CPU | %.3f %% of a core | < 1 %% | %.0f "
        "s; %d polls, %d replies shown; getrusage user+sys |\n",
        cpuPercent, wall, polls, replies);
    std::printf(
        "| polling: wake-ups | %.1f /s | poll timer, reader, dispatch ticks (about 20 /s), "
        "repaints | %.0f s; voluntary context switches, all threads |\n",
        wakeups, wall);
  } else if (load == Load::kLost) {
    std::printf(
        "| lost (device gone), retrying: CPU | %.4f %% of a core | < 0.02 %% | %.0f s; retries on "
        "a change of the ports folder or /dev and every 2 s |\n",
        cpuPercent, wall);
    std::printf("| lost: wake-ups | %.2f /s | - | %.0f s; voluntary context switches |\n", wakeups,
                wall);
  } else {
    std::printf(
        "| stream at %s frames/s: CPU | %.3f %% of a core | <= 2.5 %% | %.0f s; %d frames shown "
        "(%.0f /s), session file on; getrusage user+sys, all threads |\n",
        kStreamHz, cpuPercent, wall, replies, replies / wall);
    std::printf(
        "| stream at %s frames/s: wake-ups | %.1f /s | - | %.0f s; voluntary context switches, "
        "all threads |\n",
        kStreamHz, wakeups, wall);
  }
  return 0;
}

// ---- flood ----

int Flood(const std::string& sim, long frames, int argc, char** argv) {
  ConsoleOnSim bench(sim, {"--numbered", "--burst", std::to_string(frames)}, true, argc, argv);
  if (bench.Window() == nullptr) return 1;
  const auto& window = *bench.Window();
  const std::string sentLog = bench.SentLog();
  const auto click = [&](int id) { bench.Click(id); };
  RunFor(500);
  const auto* raw = window.ListModel(IDC_LIST_RAW);
  const auto* view = dynamic_cast<const fw::qt::LogView*>(window.Control(IDC_LIST_RAW));
  if (raw == nullptr || view == nullptr) return 1;
  // The reply to the first command, then the burst.
  const long want = frames + 1;
  long received = 0;
  int seen = 0;
  const Usage before = Now();
  click(IDC_GET_PRESSURE);  // the burst follows the reply to the first command
  const bool all = RunUntil(
      [&] {
        for (; seen < raw->Count(); ++seen) {
          received += raw->Line(seen).starts_with("PC <-- MODULE ") ? 1 : 0;
        }
        // In the list and scrolled into view: what the next paint shows.
        const int height = view->viewport()->height() / std::max(1, view->RowHeight());
        return received >= want && view->FirstVisibleRow() + height >= raw->Count();
      },
      60'000 + static_cast<int>(frames / 10));
  const Usage after = Now();
  click(IDC_PORT_CLOSE);
  const auto sent = testsupport::ReadSentTimes(sentLog);
  if (!all || static_cast<long>(sent.size()) < want) {
    std::fprintf(stderr, "shown %ld and sent %zu of %ld frames\n", received, sent.size(), want);
    return 1;
  }
  const double lastMs = static_cast<double>(after.wallNs - sent.back().ns) / 1e6;
  const double spanS = static_cast<double>(sent.back().ns - sent.front().ns) / 1e9;
  const double cpu = after.cpuSeconds - before.cpuSeconds;
  std::printf(
      "| flood of %ld frames, the window: last frame in view after the flood's end | %.0f ms | "
      "<= 250 ms | from its logged send time; sent in %.2f s; every raw line counted |\n",
      frames, lastMs, spanS);
  std::printf(
      "| flood: CPU per frame | %.1f us | - | %.2f s of CPU for %ld frames, all threads |\n",
      cpu / static_cast<double>(want) * 1e6, cpu, want);
  return 0;
}

int PrintUsage(const char* argv0) {
  std::fprintf(stderr,
               "usage: %s startup | idle|polling|stream|lost SIM SECONDS | flood SIM FRAMES\n",
               argv0);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const std::string_view mode = argc > 1 ? argv[1] : "";
  if (mode == "--child-startup") return ChildStartup(argc, argv);
  if (mode == "startup") return Startup();
  if (mode == "flood" && argc == 4) {
    const long frames = std::atol(argv[3]);
    if (frames <= 0) return PrintUsage(argv[0]);
    int qtArgc = 1;
    return Flood(argv[2], frames, qtArgc, argv);
  }
  if ((mode == "idle" || mode == "polling" || mode == "stream" || mode == "lost") && argc == 4) {
    const int seconds = std::atoi(argv[3]);
    if (seconds <= 0) return PrintUsage(argv[0]);
    int qtArgc = 1;
    const Load load = mode == "idle"      ? Load::kIdle
                      : mode == "polling" ? Load::kPolling
                      : mode == "lost"    ? Load::kLost
                                          : Load::kStream;
    return Measure(load, argv[2], seconds, qtArgc, argv);
  }
  return PrintUsage(argv[0]);
}
