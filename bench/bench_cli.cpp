// nibp-cli measuring against the simulator: the time each measurement takes beyond what the
// module itself spent on it, and the tool's CPU.
//
//   bench_cli CLI SIM [COUNT] [SPEED]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/sim_process.h"
#include "timed_run.h"

namespace {

using namespace std::chrono_literals;

// The cells of one CSV line (no quoting in the columns read here).
std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string cell; std::getline(in, cell, ',');) out.push_back(cell);
  return out;
}

// The module's own duration of each measurement: TC's first two bytes, in 0.1 s.
std::vector<double> ModuleSeconds(const std::string& csv) {
  std::vector<double> out;
  const auto lines = testsupport::ReadLines(csv);
  if (lines.empty()) return out;
  const std::vector<std::string> header = Cells(lines[0]);
  const auto column = std::find(header.begin(), header.end(), "tc") - header.begin();
  if (static_cast<size_t>(column) == header.size()) {
    std::fprintf(stderr, "bench_cli: no tc column in %s\n", csv.c_str());
    return out;
  }
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> cells = Cells(lines[i]);
    if (static_cast<size_t>(column) >= cells.size()) continue;
    std::string tc = cells[column];
    std::erase(tc, '"');
    unsigned lo = 0, hi = 0;
    if (std::sscanf(tc.c_str(), "%x %x", &lo, &hi) == 2) out.push_back((lo | (hi << 8)) / 10.0);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s CLI SIM [COUNT] [SPEED]\n", argv[0]);
    return 2;
  }
  const std::string cliPath = argv[1];
  const std::string simPath = argv[2];
  const int count = argc > 3 ? std::atoi(argv[3]) : 20;
  const std::string speedText = argc > 4 ? argv[4] : "50";
  const double speed = std::atof(speedText.c_str());

  testsupport::TempConfigHome home;
  testsupport::SimProcess sim(simPath, {"--port", "COM1", "--quiet", "--speed", speedText});
  if (!sim.Running() || !testsupport::SimProcess::WaitForPath(home.PortLink("COM1"), 10s)) {
    std::fprintf(stderr, "bench_cli: the simulator did not start\n");
    return 1;
  }
  const std::string csv = home.Dir() + "/run.csv";
  std::vector<std::string> args = {cliPath,  "--port", "COM1",    "measure",
                                   "--mode", "adult",  "--count", std::to_string(count),
                                   "--csv",  csv};
  const bench::TimedRun run = bench::RunTimed(args, false);
  if (!run.started) {
    std::fprintf(stderr, "bench_cli: cannot start %s\n", cliPath.c_str());
    return 1;
  }
  if (!run.Succeeded()) {
    std::fprintf(stderr, "bench_cli: nibp-cli ended with status %d\n", run.status);
    return 1;
  }
  const double wall = run.wallSeconds;
  const double cpu = run.cpuSeconds;
  const std::vector<double> module = ModuleSeconds(csv);
  if (module.size() != static_cast<size_t>(count)) {
    std::fprintf(stderr, "bench_cli: %zu results for %d measurements\n", module.size(), count);
    return 1;
  }
  double simulated = 0;
  for (const double s : module) simulated += s / speed;
  std::printf("%d measurements at speed %g: %.2f s wall, %.2f s simulated, %.3f s CPU\n", count,
              speed, wall, simulated, cpu);
  std::printf(
      "| nibp-cli measure: time per measurement beyond the simulated one | %.2f s | < 1.3 s | %d "
      "measurements at --speed %g; wall time less TC's duration / speed (the 1 s the cuff must "
      "stay "
      "below 5 mmHg and up to one 250 ms poll included) |\n",
      (wall - simulated) / count, count, speed);
  std::printf("| nibp-cli measure: CPU | %.3f %% of a core | < 1 %% | %.0f s; wait4 user+sys |\n",
              100.0 * cpu / wall, wall);
  return 0;
}
