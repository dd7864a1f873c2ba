#pragma once
// Turns reply frames into the pieces written to the line, with the faults a test asks for:
// noise between frames, corrupted checksums, frames split into fragments with pauses.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sim/model.h"

namespace sim {

struct FaultOptions {
  bool fragment = false;
  double noise = 0;    // chance per frame of a burst of noise bytes before it
  double corrupt = 0;  // chance per frame that its checksum is wrong
};

// One write to the line.
struct Chunk {
  Bytes bytes;
  double pause = 0;  // seconds to wait after the previous chunk
  bool noise = false;
  bool endsFrame = false;  // the last piece of a frame: `frame`, `good` and `what` describe it
  bool good = false;
  Bytes frame;
  std::string what;
};

class Shaper {
 public:
  static constexpr int kMaxNoise = 8;           // bytes per burst
  static constexpr double kMaxPause = 0.020;    // s between fragments
  static constexpr uint8_t kNeverNoise = 0x3E;  // see NoiseByte

  Shaper(FaultOptions options, uint64_t seed) : options_(options), rng_(seed) {}

  [[nodiscard]] std::vector<Chunk> Shape(const Reply& reply);

 private:
  [[nodiscard]] bool Chance(double p);
  [[nodiscard]] uint8_t NoiseByte();

  FaultOptions options_;
  std::mt19937_64 rng_;
};

}  // namespace sim
