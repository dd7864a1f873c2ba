#include "commands/command_text.h"

namespace commands {

std::string SetPressureText(uint32_t mmHg) {
  return "-- Set Initial Inflate to " + std::to_string(mmHg) + " --";
}

std::string_view PumpText(bool on) {
  return on ? "-- Start Pump --" : "-- Stop Pump --";
}

std::string_view ControlValveText(bool closed) {
  return closed ? "-- Closed Control Valve --" : "-- open Control Valve --";
}

std::string_view DumpValveText(bool closed) {
  return closed ? "-- Closed Dump Valve --" : "-- open Dump Valve --";
}

std::optional<std::string_view> NotSentText(SendResult result) {
  switch (result) {
    case SendResult::kSent:
      return std::nullopt;
    case SendResult::kClosed:
      return "Not sent: port closed";
    case SendResult::kLost:
      return "Not sent: port lost";
    case SendResult::kFull:
      return "Not sent: output full";
  }
  return std::nullopt;
}

std::string PortStateText(int port, std::string_view state) {
  std::string s = "COM" + std::to_string(port);
  s += ' ';
  s += state;
  return s;
}

}  // namespace commands
