#pragma once
// What the module link reports: one typed event per thing that happened on the line or the port.
// Every consumer (the two logs, the session file, the chart, the results, nibp-cli, the checks)
// reads these, never the log texts.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "commands/commands.h"
#include "protocol/reply.h"
#include "serial/comm.h"

// modlink: "link" is taken by the POSIX call of that name.
namespace modlink {

enum class EventKind : uint8_t {
  kSent,          // a command went on the line: request, bytes
  kNotSent,       // a command that did not: request, reason
  kCuffPressure,  // a cuff pressure reply: mmHg, bytes
  kBpData,        // a BP data reply: bp, bytes
  kShortReply,    // a good frame too short for BP data: length, bytes
  kCharReply,     // a one-character reply: character, bytes
  kBadFrame,      // a complete frame with a wrong checksum: bytes
  kDropped,       // bytes outside any frame: bytes
  kPortOpen,      // the port opened (also again after a loss): port, device
  kPortLost,      // the device went away while open: port, device
  kPortClosed,    // the user closed the port: port, device
};

struct Event {
  int64_t ms = 0;  // wall-clock milliseconds since the epoch
  EventKind kind = EventKind::kSent;
  commands::Request request{};  // kSent, kNotSent
  bool raw = false;  // kSent, kNotSent: the user's own bytes, no command (request means nothing)
  SendResult reason = SendResult::kSent;  // kNotSent
  uint16_t mmHg = 0;                      // kCuffPressure
  protocol::BpData bp{};                  // kBpData
  uint32_t length = 0;                    // kShortReply: the frame's length byte
  char character = 0;                     // kCharReply
  // The frame or the bytes as they were on the line (a good frame cut to the slot); valid only
  // during the call that delivers the event.
  std::span<const uint8_t> bytes;
  int port = 0;                // port events: the COM number, 0 for a device given by path
  std::string_view device;     // port events: the path that was opened; valid during the call
  bool reopened = false;       // kPortOpen: opened again after a loss
  bool outputDropped = false;  // kPortLost: bytes still queued for the device were dropped
  // What the logs show, rendered once where the values are made; valid during the call. The raw
  // line ("PC --> MODULE <..>", "PC <-- MODULE <..>") is empty for port events and kNotSent; the
  // event lines are the command's or the reply's ("-- Get Pressure --", "Cuff pressure: 160").
  std::string_view rawLine;
  std::span<const std::string> lines;
};

// Takes every event, on the thread that owns the link.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void OnEvent(const Event& event) = 0;
};

}  // namespace modlink
