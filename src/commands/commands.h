#pragma once
// The one command table: every command the console, nibp-cli and the checks send, with its frame,
// its event text, its word on the command line and its chart marker. A new command is a row here.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/frames.h"

namespace commands {

enum class Command : uint8_t {
  kSetPressure,
  kStartAdult,
  kStartNeonate,
  kStartPediatric,
  kAbortBp,
  kGetPressure,
  kGetBpData,
  // The pneumatics frame, named by the box that was clicked: one event line.
  kPump,
  kControlValve,
  kDumpValve,
  // The same frame with all three set at once: an event line for each.
  kPneumatics,
};

// The measurement a start command begins.
enum class Mode : uint8_t { kAdult, kNeonate, kPediatric };

struct Request {
  Command command = Command::kGetPressure;
  uint32_t inflate = 0;        // kSetPressure: the low 16 bits are sent
  bool pump = false;           // the pneumatics frame: the pump runs
  bool controlClosed = false;  // the control valve is closed
  bool dumpClosed = false;     // the dump valve is closed
  bool operator==(const Request&) const = default;
};

[[nodiscard]] constexpr Request Simple(Command c) {
  return Request{.command = c};
}
[[nodiscard]] constexpr Request SetPressure(uint32_t mmHg) {
  return Request{.command = Command::kSetPressure, .inflate = mmHg};
}
[[nodiscard]] constexpr Request Pneumatics(bool pump, bool controlClosed, bool dumpClosed,
                                           Command named = Command::kPneumatics) {
  return Request{
      .command = named, .pump = pump, .controlClosed = controlClosed, .dumpClosed = dumpClosed};
}
// Pump off, both valves open: the state every check ends in.
inline constexpr Request kAllOff = Pneumatics(false, false, false);

// Writes the frame at the start of `tx` and returns its length.
[[nodiscard]] size_t BuildFrame(const Request& request, protocol::TxBuf& tx);

// The event-log lines of a command: "-- Get Pressure --"; three for kPneumatics.
[[nodiscard]] std::vector<std::string> EventLines(const Request& request);

// The chart's label for a command that becomes a marker ("Set 160", "Start Adult BP"); none for
// the two requests for data.
[[nodiscard]] std::optional<std::string> MarkerLabel(const Request& request);

// The measurement a start command begins; none for every other command.
[[nodiscard]] std::optional<Mode> StartMode(Command command);
[[nodiscard]] Command StartCommand(Mode mode);
// "adult", "neonate", "pediatric".
[[nodiscard]] std::string_view ModeName(Mode mode);

// nibp-cli's words for the commands without arguments: "start-adult", "abort", "get-pressure".
struct Word {
  std::string_view word;
  Command command;
};
[[nodiscard]] const std::vector<Word>& PlainWords();

}  // namespace commands
