// Reply latency: from the last byte of a reply written on the module's side of a pty to its
// decoded line in the event log. The console runs headless with its real serial port; this
// program plays the module on the pty's other side.
//   bench_latency [REPLIES [HZ]]   replies 30..60 ms apart, or HZ a second (each gap +-20 %)

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "console/nibp_dlg.h"
#include "protocol/frames.h"
#include "res/resource.h"
#include "support/headless.h"

using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::atoi(argv[1]) : 300;
  const double hz = argc > 2 ? std::atof(argv[2]) : 0;
  const int gapLo = hz > 0 ? static_cast<int>(800 / hz) : 30;
  const int gapHi = hz > 0 ? static_cast<int>(1200 / hz) : 60;
  char what[64] = "reply latency";
  if (hz > 0) std::snprintf(what, sizeof what, "reply latency at %g frames/s", hz);
  char tmpl[] = "/tmp/nibp-bench-XXXXXX";
  const std::string home = mkdtemp(tmpl);
  setenv("XDG_CONFIG_HOME", home.c_str(), 1);

  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  termios tio{};
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);
  std::filesystem::create_directories(home + "/quirab_nibp/ports");
  std::filesystem::create_symlink(ttyname(slave), home + "/quirab_nibp/ports/COM1");

  fw::headless::HeadlessBackend ui;
  CNibpDlg dlg(ui);
  if (!dlg.Create()) return 1;
  auto* w = ui.FindWindow(IDD_QUIRAB_NIBP_DIALOG);
  w->Click(IDC_PORT_OPEN);
  if (w->GetText(IDC_PORT_STATUS) != "COM1 OPEN") {
    std::fprintf(stderr, "cannot open the pty\n");
    return 1;
  }

  std::vector<Clock::time_point> written(static_cast<size_t>(frames));
  std::atomic<int> writtenCount{0};
  std::thread module([&] {
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> gap(gapLo, gapHi);
    for (int i = 0; i < frames; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(gap(rng)));
      uint8_t f[5] = {0x3E, 0x05, static_cast<uint8_t>(i & 0xFF), static_cast<uint8_t>(i >> 8), 0};
      f[4] = protocol::Checksum(std::span(f, 4));
      if (write(master, f, sizeof f) != static_cast<ssize_t>(sizeof f)) break;
      written[static_cast<size_t>(i)] = Clock::now();
      writtenCount.store(i + 1, std::memory_order_release);
    }
  });

  // Times are paired after the run: a line may show before the writer has noted its write.
  std::vector<Clock::time_point> shownAt(static_cast<size_t>(frames));
  int shownCount = 0;
  size_t seen = 0;
  w->RunUntil(
      [&] {
        const auto& lines = w->Lines(IDC_LIST_EVENT);
        for (; seen < lines.size(); ++seen) {
          const std::string& l = lines[seen];
          if (l.rfind("Cuff pressure: ", 0) != 0) continue;
          const int i = std::atoi(l.c_str() + 15);
          if (i < 0 || i >= frames || shownAt[static_cast<size_t>(i)] != Clock::time_point{})
            continue;
          shownAt[static_cast<size_t>(i)] = Clock::now();
          ++shownCount;
        }
        return shownCount >= frames;
      },
      std::chrono::seconds(60) + std::chrono::milliseconds(frames * gapHi));
  module.join();
  std::vector<double> latencyMs;
  for (int i = 0; i < std::min(frames, writtenCount.load()); ++i) {
    const auto at = shownAt[static_cast<size_t>(i)];
    if (at == Clock::time_point{}) continue;
    latencyMs.push_back(
        std::chrono::duration<double, std::milli>(at - written[static_cast<size_t>(i)]).count());
  }
  w->Click(IDC_PORT_CLOSE);
  close(master);
  close(slave);
  std::filesystem::remove_all(home);

  if (latencyMs.empty()) {
    std::printf("reply latency: no replies seen\n");
    return 1;
  }
  std::sort(latencyMs.begin(), latencyMs.end());
  const auto pct = [&](double p) {
    return latencyMs[static_cast<size_t>(p * static_cast<double>(latencyMs.size() - 1))];
  };
  std::printf(
      "| %s, median (pty write of the last byte -> event-log line) | %.1f ms | < 22 ms (floor: 20 "
      "ms dispatch period) | %zu replies, %d..%d ms apart |\n",
      what, pct(0.5), latencyMs.size(), gapLo, gapHi);
  std::printf("| %s, 99th percentile | %.1f ms | < 30 ms | %zu replies |\n", what, pct(0.99),
              latencyMs.size());
  std::printf("| %s, worst | %.1f ms | - | %zu replies |\n", what, latencyMs.back(),
              latencyMs.size());
  return 0;
}
