// Soak: the console (headless window, real serial port) against the simulated module with every
// fault mode on, a fast numbered stream, the device hanging up and coming back, the poll running,
// and the port closed and opened again every few seconds.
// Prints what it checked and exits non-zero on any failure.
//
// Usage: nibp_soak SIM_EXE SECONDS

#include <dirent.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "console/nibp_dlg.h"
#include "res/resource.h"
#include "support/headless.h"
#include "support/raw_line.h"
#include "support/sent_log.h"
#include "support/sim_process.h"

namespace {

using namespace std::chrono_literals;

// Under a sanitizer the resident size says nothing about our memory: shadow memory and the
// allocator's quarantine grow with it, and leaks are the sanitizer's to report.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

using Clock = std::chrono::steady_clock;

int CountEntries(const char* dir) {
  int n = 0;
  if (DIR* d = opendir(dir)) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

long RssKb() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

// Margins around an open window: frames in flight when the line was purged at the open, or cut
// off by the close or a hang-up, need not be shown.
constexpr int64_t kAfterOpenNs = 100'000'000;
constexpr int64_t kBeforeEndNs = 300'000'000;

// When frames must have been shown: from each open (by the user or after a loss) to the next
// close or loss, as the event log tells of the losses.
class OpenWindows {
 public:
  void Opened(int64_t ns) {
    start_ = ns + kAfterOpenNs;
    open_ = true;
  }
  void Ended(int64_t ns) {
    if (open_) windows_.emplace_back(start_, ns - kBeforeEndNs);
    open_ = false;
  }
  // Takes the event lines added since the last call.
  void Watch(const std::vector<std::string>& events) {
    for (; seen_ < events.size(); ++seen_) {
      if (events[seen_] == "COM1 LOST") {
        Ended(testsupport::MonoNs());
        ++losses_;
      } else if (events[seen_] == "COM1 OPEN") {
        Opened(testsupport::MonoNs());
        ++reopens_;
      }
    }
  }
  [[nodiscard]] bool Contain(int64_t ns) const {
    return std::any_of(windows_.begin(), windows_.end(),
                       [&](const auto& w) { return ns >= w.first && ns <= w.second; });
  }
  [[nodiscard]] double Seconds() const {
    int64_t ns = 0;
    for (const auto& [from, to] : windows_) ns += std::max<int64_t>(to - from, 0);
    return static_cast<double>(ns) / 1e9;
  }
  [[nodiscard]] int Losses() const { return losses_; }
  [[nodiscard]] int Reopens() const { return reopens_; }

 private:
  std::vector<std::pair<int64_t, int64_t>> windows_;
  int64_t start_ = 0;
  bool open_ = false;
  size_t seen_ = 0;
  int losses_ = 0, reopens_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s SIM_EXE SECONDS\n", argv[0]);
    return 2;
  }
  const std::string simExe = argv[1];
  const int seconds = std::max(10, std::atoi(argv[2]));
  testsupport::TempConfigHome home;
  const std::string sentLog = home.Dir() + "/sent.log";

  testsupport::SimProcess sim(
      simExe, {"--port", "COM1", "--quiet", "--speed", "10", "--fragment", "--noise", "0.2",
               "--corrupt", "0.1", "--stream", "60", "--numbered", "--hangup-every", "7", "--seed",
               "11", "--log-sent-times", sentLog});
  if (!sim.Running() || !testsupport::SimProcess::WaitForPath(home.PortLink("COM1"), 10s)) {
    std::fprintf(stderr, "soak: the simulator did not start\n");
    return 1;
  }

  // Ends the process if a cycle hangs: a deadlock must fail the run, not stall it.
  using testsupport::MonoNs;
  std::atomic<int64_t> heartbeat{MonoNs()};
  std::atomic<bool> finished{false};
  std::thread watchdog([&] {
    while (!finished.load()) {
      std::this_thread::sleep_for(200ms);
      if (MonoNs() - heartbeat.load() > 30'000'000'000) {
        std::fprintf(stderr, "soak: FAIL no progress for 30 s (deadlock)\n");
        std::_Exit(3);
      }
    }
  });

  fw::headless::HeadlessBackend ui;
  auto dlg = std::make_unique<CNibpDlg>(ui);
  if (!dlg->Create()) return 1;
  auto* w = ui.FindWindow(IDD_QUIRAB_NIBP_DIALOG);

  const int baseFds = CountEntries("/proc/self/fd");
  const int baseThreads = CountEntries("/proc/self/task");
  const long baseRss = RssKb();
  int failures = 0, cycles = 0, leaks = 0;
  double worstCloseMs = 0;
  OpenWindows windows;
  const auto run = [&](std::chrono::milliseconds ms) {
    w->RunUntil(
        [&] {
          windows.Watch(w->Lines(IDC_LIST_EVENT));
          return false;
        },
        ms);
  };
  std::vector<std::string> shown;
  size_t logBytes = 0, logLines = 0;

  w->Click(IDC_AUTO_PRESSURE);
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  while (Clock::now() < end) {
    w->Click(IDC_PORT_OPEN);
    windows.Opened(MonoNs());
    if (w->GetText(IDC_PORT_STATUS) != "COM1 OPEN" || !ui.MessageBoxes().empty()) {
      std::fprintf(stderr, "soak: FAIL cannot open COM1\n");
      ++failures;
      break;
    }
    run(2500ms);
    w->Click(IDC_START_ADULT);
    run(1500ms);
    w->Click(IDC_GET_BP_DATA);
    run(200ms);
    windows.Watch(w->Lines(IDC_LIST_EVENT));
    windows.Ended(MonoNs());
    const auto t0 = Clock::now();
    w->Click(IDC_PORT_CLOSE);
    const double closeMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    worstCloseMs = std::max(worstCloseMs, closeMs);
    if (closeMs > 1000) {
      std::fprintf(stderr, "soak: FAIL close took %.0f ms\n", closeMs);
      ++failures;
    }
    run(100ms);  // parked frames are still shown after the close
    if (CountEntries("/proc/self/fd") != baseFds || CountEntries("/proc/self/task") != baseThreads)
      ++leaks;

    ++cycles;
    heartbeat = MonoNs();
  }
  w->Click(IDC_AUTO_PRESSURE);
  const long rssGrowthKb = RssKb() - baseRss;
  // The logs are kept for the whole run, as on a working day.
  for (const auto& l : w->Lines(IDC_LIST_RAW)) {
    logBytes += l.size();
    if (l.rfind("PC <-- MODULE ", 0) == 0) shown.push_back(testsupport::RawLineToHex(l));
  }
  for (const auto& l : w->Lines(IDC_LIST_EVENT)) logBytes += l.size();
  logLines = w->Lines(IDC_LIST_RAW).size() + w->Lines(IDC_LIST_EVENT).size();
  // Each line costs its text plus a string object and allocator overhead; 4 MiB for the rest.
  const long explainedKb = static_cast<long>((logBytes + logLines * 96) / 1024) + 4096;
  dlg.reset();
  // A finding of a sanitizer in the simulator ends it with an error status.
  const int simStatus = sim.Stop();
  finished = true;
  watchdog.join();

  // Every frame sent inside an open window shown exactly once, all shown frames in order.
  const auto sent = testsupport::ReadSentTimes(sentLog);
  const auto inWindow = [&](const testsupport::SentFrame& f) { return windows.Contain(f.ns); };
  const auto match = testsupport::MatchShown(shown, sent, inWindow);
  const size_t required = static_cast<size_t>(std::count_if(sent.begin(), sent.end(), inWindow));
  if (match.unexpected != 0)
    std::fprintf(stderr, "soak: first unexpected frame: %s\n", match.firstUnexpected.c_str());
  const double windowRate = static_cast<double>(required) / std::max(windows.Seconds(), 1.0);

  std::printf("soak: %d s, %d open/close cycles, worst close %.1f ms\n", seconds, cycles,
              worstCloseMs);
  std::printf(
      "soak: frames sent %zu (%zu inside open windows, %.0f /s there), shown %zu, missing %zu, "
      "unexpected %zu\n",
      sent.size(), required, windowRate, shown.size(), match.missing, match.unexpected);
  std::printf("soak: device lost %d times, taken back %d times\n", windows.Losses(),
              windows.Reopens());
  std::printf("soak: descriptors %d and threads %d at start; cycles ending with a leak: %d\n",
              baseFds, baseThreads, leaks);
  std::printf(
      "soak: RSS growth %ld KiB for %zu log lines (%zu bytes of text); explained up to %ld KiB%s\n",
      rssGrowthKb, logLines, logBytes, explainedKb,
      kSanitized ? " (not checked under a sanitizer)" : "");
  std::printf("soak: simulator exit status %d\n", simStatus);
  if (!kSanitized && rssGrowthKb > explainedKb) ++failures;
  if (simStatus != 0) ++failures;
  if (match.missing != 0 || match.unexpected != 0) ++failures;
  // A hang-up every 7 s: a long run that saw none did not test it.
  if (seconds >= 30 && windows.Losses() == 0) ++failures;
  if (leaks != 0) ++failures;
  if (required == 0) ++failures;
  if (failures == 0) {
    std::printf("soak: PASS\n");
    return 0;
  }
  std::printf("soak: FAIL (%d)\n", failures);
  return 1;
}
