// Throughput of the receive path as the console drives it: each message of bytes is pushed into
// the reply ring and drained through the assembler, then the dispatch timer ticks until it stops.
// With --table (scripts/bench.sh) it also prints one row per case, the median of five runs.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <string_view>
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
  protocol::TickOutput out;  // the console keeps one across ticks
  size_t shown = 0;
  for (auto _ : state) {
    for (size_t at = 0; at < stream.size(); at += batch) {
      const size_t end = std::min(stream.size(), at + batch);
      for (size_t i = at; i < end; ++i) rx->PushReplyByte(stream[i]);
      bool timer = rx->Assemble();
      while (timer) {
        rx->DispatchTick(out);
        timer = !out.stopTimer;
        for (const auto& e : out) {
          shown += e.kind == protocol::EntryKind::kGood ? 1 : 0;
          benchmark::DoNotOptimize(e.rawLine.data());
          benchmark::DoNotOptimize(e.eventLines.begin());
        }
      }
    }
    benchmark::DoNotOptimize(rx->RxHex().data());
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

// The usual console output, and the runs kept for the table.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  TableReporter() : ConsoleReporter(OO_None) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& r : runs) {
      if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
      auto& c = cases_[r.run_name.function_name + "/" + r.run_name.args];
      const auto bps = r.counters.find("bytes_per_second");
      if (bps != r.counters.end()) c.mbPerSecond.push_back(bps->second.value / 1e6);
      c.iterations += r.iterations;
    }
  }

  void PrintRows() const {
    static const std::pair<const char*, const char*> kNames[] = {
        {"BM_CleanFrames/1024", "clean frames in 1024-byte messages"},
        {"BM_CleanFrames/16", "clean frames in 16-byte messages"},
        {"BM_Noise/1024", "random bytes in 1024-byte messages"},
        {"BM_Noise/16", "random bytes in 16-byte messages"},
        {"BM_NoiseWithoutStartBytes/1024", "random bytes without 0x3E in 1024-byte messages"},
    };
    for (const auto& [key, name] : kNames) {
      const auto it = cases_.find(key);
      if (it == cases_.end() || it->second.mbPerSecond.empty()) continue;
      auto v = it->second.mbPerSecond;
      std::sort(v.begin(), v.end());
      std::printf(
          "| receive path, %s | %.1f MB/s | >= 50 MB/s | median of %zu runs; %lld passes over 1 "
          "MiB; CPU time |\n",
          name, v[v.size() / 2], v.size(), static_cast<long long>(it->second.iterations));
    }
  }

 private:
  struct Case {
    std::vector<double> mbPerSecond;
    int64_t iterations = 0;
  };
  std::map<std::string, Case> cases_;
};

}  // namespace

int main(int argc, char** argv) {
  bool table = false;
  std::string repetitions = "--benchmark_repetitions=5";
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (i > 0 && std::string_view(argv[i]) == "--table") {
      table = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  // First, so that a repetition count given on the command line wins.
  if (table && !args.empty()) args.insert(args.begin() + 1, repetitions.data());
  int n = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (table) reporter.PrintRows();
  return 0;
}
