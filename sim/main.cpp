// nibp-sim: plays the blood-pressure module on a pseudo-terminal linked as a console port.

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <system_error>
#include <vector>

#include "serial/ports_dir.h"
#include "sim/options.h"
#include "sim/replay.h"
#include "sim/simulator.h"

namespace {

// The frames of --replay, or nothing after saying why there are none. Skipped lines are named.
std::optional<std::vector<sim::ReplayFrame>> LoadReplay(const std::string& path) {
  sim::Replay replay = sim::ReadReplayFile(path);
  for (const std::string& w : replay.warnings)
    std::fprintf(stderr, "nibp-sim: %s: %s\n", path.c_str(), w.c_str());
  if (!replay.error.empty()) {
    std::fprintf(stderr, "nibp-sim: cannot read %s: %s\n", path.c_str(), replay.error.c_str());
    return std::nullopt;
  }
  if (replay.frames.empty()) {
    std::fprintf(stderr, "nibp-sim: %s holds no frame received from the module\n", path.c_str());
    return std::nullopt;
  }
  return std::move(replay.frames);
}

}  // namespace

int main(int argc, char** argv) {
  int exitCode = 0;
  std::optional<sim::Options> opts = sim::ParseOptions(argc, argv, exitCode);
  if (!opts) return exitCode;
  if (opts->checks.gaugePort == opts->port) {
    std::fprintf(stderr, "nibp-sim: the gauge needs a port of its own, not %s\n",
                 opts->port.c_str());
    return 2;
  }
  if (!opts->seedGiven) opts->seed = std::random_device{}();
  // A reader of our output that goes away must not end us before the link is removed.
  std::signal(SIGPIPE, SIG_IGN);
  const std::filesystem::path ports = serial::PortsDir();
  if (ports.empty()) {
    std::fprintf(stderr, "nibp-sim: no folder for the ports: HOME is not an absolute path\n");
    return 2;
  }
  std::vector<sim::ReplayFrame> replay;
  if (!opts->replay.empty()) {
    std::optional<std::vector<sim::ReplayFrame>> frames = LoadReplay(opts->replay);
    if (!frames) return 1;
    replay = std::move(*frames);
  }
  try {
    sim::Simulator simulator(*opts, std::move(replay), ports / opts->port);
    return simulator.Run();
  } catch (const std::system_error& e) {
    std::fprintf(stderr, "nibp-sim: %s\n", e.what());
    return 1;
  }
}
