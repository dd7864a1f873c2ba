#pragma once
// The command line of nibp-cli: common options, the subcommand, its options and arguments.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "checks/check_types.h"
#include "checks/gauge.h"
#include "commands/commands.h"
#include "program/program_info.h"
#include "results/expect.h"

namespace cli {

// The measurement a start command begins.
using Mode = commands::Mode;

struct SendOptions {
  std::vector<commands::Request> commands;
  double listenSeconds = 1;
};

struct WatchOptions {
  std::optional<double> durationSeconds;  // none: until a signal
};

struct MeasureOptions {
  Mode mode = Mode::kAdult;
  std::optional<uint32_t> inflate;
  long count = 1;
  double restSeconds = 0;
  double timeoutSeconds = 180;
  std::string csvPath;
  results::Limits limits;
};

// The service checks, run on every port given.
struct CheckOptions {
  std::vector<checks::CheckKind> checks;
  checks::Params params;
  // The static check's reference: a gauge on a port, readings given up front, or else typed.
  std::optional<uint8_t> referencePort;
  checks::Unit referenceUnit = checks::Unit::kMmHg;
  uint32_t referenceBaud = 9600;
  std::optional<std::vector<double>> referenceList;
  std::string operatorName;
  std::string moduleId;
  std::string referenceName;
  std::string referenceDue;
  std::string reportPath;  // FILE.html; FILE.json beside it
};

// The ports and their mapping, as the console's port list knows them.
struct PortsOptions {};
struct MapOptions {
  std::string name;  // "COM3", as typed
  std::string device;
};
struct UnmapOptions {
  std::string name;
};

struct Options {
  uint8_t port = 1;            // the console's COMn, used unless `device` is given
  std::vector<uint8_t> ports;  // check: every --port given, in order (none: `port`)
  std::string device;          // --device PATH
  bool json = false;
  std::variant<SendOptions, WatchOptions, MeasureOptions, CheckOptions, PortsOptions, MapOptions,
               UnmapOptions>
      command;
};

// What the command line asks for: options to run, --help or --version, or a usage error (one
// line, without the program's name).
struct ParseResult {
  std::optional<Options> options;
  program::InfoRequest info = program::InfoRequest::kNone;
  std::string error;
};

[[nodiscard]] ParseResult ParseCommandLine(const std::vector<std::string_view>& args);

// One of send's command words: "set-pressure=180", "pneumatics=1,0,1"; an error otherwise.
[[nodiscard]] std::variant<commands::Request, std::string> ParseSendCommand(std::string_view word);

[[nodiscard]] std::string_view Usage();

}  // namespace cli
