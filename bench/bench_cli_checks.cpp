// Sixteen simulated modules checked at once by one nibp-cli process: its CPU, and the worst
// jitter of the 250 ms poll as the modules answered it (the spread of the poll period).
//
//   bench_cli_checks CLI SIM [MODULES] [HOLD_S]

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/sim_process.h"
#include "timed_run.h"

namespace {

using namespace std::chrono_literals;

// The times (ms) of the cuff pressure replies a module sent: 5-byte frames "3e 05 ...", each
// line of --log-sent-times led by CLOCK_MONOTONIC nanoseconds.
std::vector<double> ReplyTimes(const std::string& path) {
  std::vector<double> out;
  for (const std::string& line : testsupport::ReadLines(path)) {
    std::istringstream in(line);
    long long ns = 0;
    std::string rest;
    if (!(in >> ns)) continue;
    std::getline(in, rest);
    if (rest.find("3e 05 ") != std::string::npos && rest.size() <= 16) out.push_back(ns / 1e6);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s CLI SIM [MODULES] [HOLD_S]\n", argv[0]);
    return 2;
  }
  const std::string cliPath = argv[1];
  const std::string simPath = argv[2];
  const int modules = argc > 3 ? std::atoi(argv[3]) : 16;
  const std::string hold = argc > 4 ? argv[4] : "20";
  constexpr int kFirstPort = 21;
  constexpr size_t kSkipPeriods = 3;

  testsupport::TempConfigHome home;
  std::vector<std::unique_ptr<testsupport::SimProcess>> sims;
  std::vector<std::string> logs;
  std::vector<std::string> args = {cliPath};
  for (int i = 0; i < modules; ++i) {
    const std::string port = "COM" + std::to_string(kFirstPort + i);
    logs.push_back(home.Dir() + "/sent-" + port + ".log");
    sims.push_back(std::make_unique<testsupport::SimProcess>(
        simPath, std::vector<std::string>{"--port", port, "--quiet", "--speed", "5",
                                          "--log-sent-times", logs.back()}));
    if (!sims.back()->Running() ||
        !testsupport::SimProcess::WaitForPath(home.PortLink(port), 10s)) {
      std::fprintf(stderr, "bench_cli_checks: the simulator on %s did not start\n", port.c_str());
      return 1;
    }
    args.insert(args.end(), {"--port", port});
  }
  args.insert(args.end(), {"check", "leak", "--settle", "1", "--hold", hold, "--report",
                           home.Dir() + "/r.html"});
  const bench::TimedRun run = bench::RunTimed(args, true);
  if (!run.started) {
    std::fprintf(stderr, "bench_cli_checks: cannot start %s\n", cliPath.c_str());
    return 1;
  }
  if (!run.Succeeded()) {
    std::fprintf(stderr, "bench_cli_checks: nibp-cli ended with status %d\n", run.status);
    return 1;
  }
  const double wall = run.wallSeconds;
  const double cpu = run.cpuSeconds;
  sims.clear();  // the logs are whole once the simulators are gone

  double worst = 0;
  size_t periods = 0;
  for (const std::string& log : logs) {
    const std::vector<double> t = ReplyTimes(log);
    // The first periods are the probe before the run and its first poll, sent at once.
    for (size_t i = kSkipPeriods + 1; i < t.size(); ++i) {
      worst = std::max(worst, std::fabs(t[i] - t[i - 1] - 250.0));
      ++periods;
    }
  }
  std::printf("%d modules, hold %s s: %.2f s wall, %.3f s CPU, %zu poll periods\n", modules,
              hold.c_str(), wall, cpu, periods);
  std::printf(
      "| nibp-cli check, %d modules at once: CPU | %.2f %% of a core | < 5 %% | a leak "
      "check (hold %s s) on COM%d..COM%d, %.0f s; wait4 user+sys |\n",
      modules, 100.0 * cpu / wall, hold.c_str(), kFirstPort, kFirstPort + modules - 1, wall);
  std::printf(
      "| nibp-cli check, %d modules at once: worst poll jitter | %.1f ms | < 50 ms | "
      "largest |period - 250 ms| between cuff pressure replies after the first 3 of each module, "
      "%zu periods |\n",
      modules, worst, periods);
  return 0;
}
