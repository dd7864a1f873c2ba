// nibp-cli measuring against the simulator: the time each measurement takes beyond what the
// module itself spent on it, and the tool's CPU.
//
//   bench_cli CLI SIM [COUNT] [SPEED]

#include <fcntl.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/sim_process.h"

namespace {

using namespace std::chrono_literals;

// The module's own duration of each measurement: TC's first two bytes, in 0.1 s.
std::vector<double> ModuleSeconds(const std::string& csv) {
  std::vector<double> out;
  const auto lines = testsupport::ReadLines(csv);
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string tc = lines[i].substr(lines[i].rfind(',') + 1);
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
  std::vector<char*> cargv;
  for (auto& a : args) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);

  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  if (posix_spawn(&pid, cliPath.c_str(), &fa, nullptr, cargv.data(), environ) != 0) {
    std::fprintf(stderr, "bench_cli: cannot start %s\n", cliPath.c_str());
    return 1;
  }
  posix_spawn_file_actions_destroy(&fa);
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "bench_cli: nibp-cli ended with status %d\n", status);
    return 1;
  }
  const std::vector<double> module = ModuleSeconds(csv);
  if (module.size() != static_cast<size_t>(count)) {
    std::fprintf(stderr, "bench_cli: %zu results for %d measurements\n", module.size(), count);
    return 1;
  }
  double simulated = 0;
  for (const double s : module) simulated += s / speed;
  const double cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                     static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  std::printf("%d measurements at speed %g: %.2f s wall, %.2f s simulated, %.3f s CPU\n", count,
              speed, wall, simulated, cpu);
  std::printf(
      "| nibp-cli measure: time per measurement beyond the simulated one | %.2f s | < 0.3 s | %d "
      "measurements at --speed %g; wall time less TC's duration / speed (the 1 s the cuff must "
      "stay below 5 mmHg included) |\n",
      (wall - simulated) / count, count, speed);
  std::printf("| nibp-cli measure: CPU | %.3f %% of a core | < 1 %% | %.0f s; wait4 user+sys |\n",
              100.0 * cpu / wall, wall);
  return 0;
}
