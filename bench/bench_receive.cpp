// Throughput of the receive path as the console drives it: each message of bytes is pushed into
// the reply ring and drained through the assembler, then the dispatch timer ticks until it stops.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "protocol/frames.h"
#include "protocol/reply.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Sealed(Bytes body) {
  body.push_back(protocol::Checksum(body));
  return body;
}

// Cuff pressures, one-character replies and BP data, as a measuring module sends them.
Bytes CleanStream(size_t size) {
  const Bytes bp = {0x3E, 0x16, 0x78, 0x00, 0x50, 0x00, 0x05, 0x02, 0x01, 0x02, 0x03,
                    0x04, 0x05, 0x06, 0x07, 0x08, 0x48, 0x00, 0x5D, 0x00, 0x01, 0x13};
  const Bytes k = {0x3E, 0x04, 0x4B, 0x73};
  Bytes out;
  for (uint16_t p = 0; out.size() < size; ++p) {
    const Bytes cuff = Sealed({0x3E, 0x05, static_cast<uint8_t>(p), static_cast<uint8_t>(p >> 8)});
    const Bytes& f = p % 8 == 0 ? bp : p % 8 == 1 ? k : cuff;
    out.insert(out.end(), f.begin(), f.end());
  }
  out.resize(size);
  return out;
}

// Random bytes: start bytes now and then, random lengths, nearly every checksum wrong.
Bytes Noise(size_t size, bool withStartBytes) {
  std::mt19937 gen(42);
  std::uniform_int_distribution<int> dist(0, 255);
  Bytes out(size);
  for (auto& b : out) {
    do b = static_cast<uint8_t>(dist(gen));
    while (!withStartBytes && b == protocol::kReplyStart);
  }
  return out;
}

void Run(benchmark::State& state, const Bytes& stream) {
  const auto batch = static_cast<size_t>(state.range(0));
  auto rx = std::make_unique<protocol::ReplyReceiver>();
  size_t shown = 0;
  for (auto _ : state) {
    for (size_t at = 0; at < stream.size(); at += batch) {
      const size_t end = std::min(stream.size(), at + batch);
      for (size_t i = at; i < end; ++i) rx->PushReplyByte(stream[i]);
      bool timer = false;
      while (rx->m_nReplyCount > 0) timer |= rx->Step(rx->PopReplyByte());
      while (timer) {
        const protocol::TickOutput out = protocol::DispatchTick(*rx);
        timer = !out.stopTimer;
        shown += out.shown ? 1 : 0;
        benchmark::DoNotOptimize(out.eventLines.data());
      }
    }
    benchmark::DoNotOptimize(rx->m_strRxHex.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
  state.counters["shown/s"] =
      benchmark::Counter(static_cast<double>(shown), benchmark::Counter::kIsRate);
}

constexpr size_t kStream = 1 << 20;

void BM_CleanFrames(benchmark::State& state) {
  static const Bytes stream = CleanStream(kStream);
  Run(state, stream);
}
void BM_Noise(benchmark::State& state) {
  static const Bytes stream = Noise(kStream, true);
  Run(state, stream);
}
void BM_NoiseWithoutStartBytes(benchmark::State& state) {
  static const Bytes stream = Noise(kStream, false);
  Run(state, stream);
}

// 1024: the largest read block, of which the two slots keep two frames; 16: about what 9600 baud
// brings between two 20 ms ticks, so nearly every frame is shown.
BENCHMARK(BM_CleanFrames)->Arg(1024)->Arg(16);
BENCHMARK(BM_Noise)->Arg(1024)->Arg(16);
BENCHMARK(BM_NoiseWithoutStartBytes)->Arg(1024);

}  // namespace

BENCHMARK_MAIN();
