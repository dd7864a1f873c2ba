#pragma once
// The simulator's main loop: the module (or a replayed file) on a pseudo-terminal, the line's
// faults, hang-ups and the port's link, until a signal or the line ends it.

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "sim/faults.h"
#include "sim/gauge.h"
#include "sim/model.h"
#include "sim/options.h"
#include "sim/pty.h"
#include "sim/replay.h"

namespace sim {

class Simulator {
 public:
  using Clock = std::chrono::steady_clock;

  // Plays the module, or `replay` when it is not empty, on a line linked as `link`.
  Simulator(const Options& o, std::vector<ReplayFrame> replay, std::filesystem::path link);

  // Throws std::system_error when the line cannot be made or kept; returns the exit code.
  int Run();

 private:
  void Say(const std::string& line) const;  // on stdout unless --quiet
  void OpenLine();
  void ForgetOutput();
  void Enqueue(const Reply& reply, Clock::time_point now);
  // A stream or burst frame: the cuff pressure, or the next count with --numbered.
  [[nodiscard]] Reply Unasked();
  void StreamDue(Clock::time_point now);
  void Push(Chunk c, Clock::time_point now);
  void Received(const std::vector<uint8_t>& data, Clock::time_point now);
  void PlayDue(Clock::time_point now);
  [[nodiscard]] Clock::time_point ReplayDue() const;
  void WriteDue(Clock::time_point now);
  void Sent(const Chunk& c);

  Options opts_;
  SignalFd signals_;  // first: signals stay blocked until everything else is gone
  Module module_;
  Shaper shaper_;
  Pty pty_;
  PortLink link_;
  std::ofstream sentLog_;
  std::ofstream sentTimesLog_;  // the soak tells frames sent while the port was open

  std::deque<Chunk> out_;
  size_t headWritten_ = 0;  // bytes of out_.front() already on the line
  Clock::time_point headDue_;
  bool blocked_ = false;  // the line is full: wait until it takes more
  bool dropping_ = false;
  bool attached_ = false;  // a console has sent a command since the line was last purged
  Clock::time_point nextStream_;
  uint64_t burstLeft_ = 0;  // set at the first command
  bool burstStarted_ = false;
  uint16_t count_ = 0;  // the next --numbered frame
  Clock::time_point exclusiveCheck_;

  std::optional<Gauge> gauge_;
  std::vector<ReplayFrame> replay_;  // empty: the module answers
  bool replaying_ = false;
  size_t replayNext_ = 0;
  Clock::time_point replayStart_;  // when the frame at offset 0 is due
};

}  // namespace sim
