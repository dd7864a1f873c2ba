#pragma once
// The texts the console logs for its commands, sends and port changes, in one place so that the
// command-line tool says exactly the same.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "serial/comm.h"

namespace commands {

// The inflate target the module is given: the up-down control's range.
inline constexpr uint32_t kInflateMin = 30;
inline constexpr uint32_t kInflateMax = 300;
inline constexpr std::string_view kInflateRefused = "Enter a pressure from 30 to 300 mmHg.";

inline constexpr std::string_view kStartAdult = "-- Start Adult BP --";
inline constexpr std::string_view kStartNeonate = "-- Start Neonate BP --";
inline constexpr std::string_view kStartPediatric = "-- Start Pediatric BP --";
inline constexpr std::string_view kAbortBp = "-- Abort BP --";
inline constexpr std::string_view kGetPressure = "-- Get Pressure --";
inline constexpr std::string_view kGetBpData = "-- Get BP Data --";

// "-- Set Initial Inflate to 160 --"
[[nodiscard]] std::string SetPressureText(uint32_t mmHg);
// "-- Start Pump --" / "-- Stop Pump --"
[[nodiscard]] std::string_view PumpText(bool on);
// "-- Closed Control Valve --" / "-- open Control Valve --"
[[nodiscard]] std::string_view ControlValveText(bool closed);
// "-- Closed Dump Valve --" / "-- open Dump Valve --"
[[nodiscard]] std::string_view DumpValveText(bool closed);

// The line that follows a command's event line when nothing went on the line.
[[nodiscard]] std::optional<std::string_view> NotSentText(SendResult result);

// "COM3 OPEN", "COM3 LOST": the status line and the event line of a port change.
[[nodiscard]] std::string PortStateText(int port, std::string_view state);
inline constexpr std::string_view kOpen = "OPEN";
inline constexpr std::string_view kLost = "LOST";

}  // namespace commands
