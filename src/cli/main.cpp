// nibp-cli: the console's commands, polls and measurements from the command line.

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "cli/output.h"
#include "cli/run.h"

namespace {

// The signal that asks the run to stop; the only state a signal handler may touch.
cli::StopFlag gStop{0};
static_assert(cli::StopFlag::is_always_lock_free);

void OnStopSignal(int sig) {
  gStop = sig;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const cli::ParseResult parsed = cli::ParseCommandLine(args);
  if (parsed.info != program::InfoRequest::kNone) {
    return program::PrintInfo(parsed.info, "nibp-cli", cli::Usage());
  }
  if (!parsed.options) {
    std::fprintf(stderr, "nibp-cli: %s (see --help)\n", parsed.error.c_str());
    return cli::kExitUsage;
  }
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  // A reader gone from a pipe ends the program through the write error instead.
  signal(SIGPIPE, SIG_IGN);

  cli::Output out(stdout, parsed.options->json);
  const int status = cli::Run(*parsed.options, out, stderr, gStop);
  if (out.Failed()) {
    std::fprintf(stderr, "nibp-cli: write error on standard output\n");
    return cli::kExitOutput;
  }
  return status;
}
