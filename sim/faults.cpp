#include "sim/faults.h"

namespace sim {

bool Shaper::Chance(double p) {
  return p > 0 && std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < p;
}

// Noise only ever arrives while the console's assembler waits for a start byte, which drops
// everything but a reply start byte. A 0x3E would open a bogus frame that swallows the next
// real one, so noise never contains it: noise is meant to be dropped, not to destroy frames.
uint8_t Shaper::NoiseByte() {
  const auto b = static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 254)(rng_));
  return b >= kNeverNoise ? static_cast<uint8_t>(b + 1) : b;
}

std::vector<Chunk> Shaper::Shape(const Reply& reply) {
  std::vector<Chunk> out;
  if (Chance(options_.noise)) {
    Chunk noise;
    noise.noise = true;
    const int n = std::uniform_int_distribution<int>(1, kMaxNoise)(rng_);
    for (int i = 0; i < n; ++i) noise.bytes.push_back(NoiseByte());
    out.push_back(std::move(noise));
  }
  Bytes frame = reply.frame;
  const bool good = !Chance(options_.corrupt);
  if (!good && !frame.empty()) {
    frame.back() ^= static_cast<uint8_t>(std::uniform_int_distribution<int>(1, 255)(rng_));
  }
  std::uniform_real_distribution<double> pause(0.001, kMaxPause);
  size_t pos = 0;
  while (pos < frame.size()) {
    size_t n = frame.size() - pos;
    if (options_.fragment) n = std::uniform_int_distribution<size_t>(1, n)(rng_);
    Chunk c;
    c.bytes.assign(frame.begin() + static_cast<std::ptrdiff_t>(pos),
                   frame.begin() + static_cast<std::ptrdiff_t>(pos + n));
    // Inside a frame only: a frame's first piece goes when it is due, so that a fast stream
    // keeps its rate.
    if (options_.fragment && pos > 0) c.pause = pause(rng_);
    pos += n;
    out.push_back(std::move(c));
  }
  if (!frame.empty()) {
    Chunk& last = out.back();
    last.endsFrame = true;
    last.good = good;
    last.frame = std::move(frame);
    last.what = good ? reply.what : reply.what + ", checksum corrupted";
  }
  return out;
}

}  // namespace sim
