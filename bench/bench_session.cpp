// The session file at a module's fastest rate: 190 frames a second, each recorded as its raw-log
// line and its event line, for SECONDS (default 20) of real time. Measures the process's CPU with
// and without the recorder (the difference is what recording costs) and how far the file ever
// fell behind the window. Prints table rows.
//   bench_session [SECONDS] [FOLDER]

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "records/session.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 190;

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

struct Result {
  double cpuShare = 0;  // of one core
  double maxLagMs = 0;
};

// Feeds frames at kRate for `seconds`; with a recorder, each frame becomes two records.
Result Run(int seconds, records::SessionRecorder* rec) {
  const std::string raw = "PC <-- MODULE <3E><05><A0><00><1D>";
  const std::string event = "Cuff pressure: 160";
  std::deque<std::pair<int64_t, Clock::time_point>> unwritten;  // record count, added at
  int64_t added = 0;
  Result r;
  const double cpu0 = CpuSeconds();
  const auto start = Clock::now();
  const int frames = seconds * kRate;
  for (int i = 0; i < frames; ++i) {
    std::this_thread::sleep_until(start +
                                  std::chrono::microseconds(int64_t{i} * 1'000'000 / kRate));
    if (rec == nullptr) continue;
    const auto now = Clock::now();
    const int64_t ms = records::NowMs();
    rec->Add(ms, records::Tag::kRaw, raw);
    rec->Add(ms, records::Tag::kEvent, event);
    added += 2;
    unwritten.emplace_back(added, now);
    const int64_t written = rec->Written();
    while (!unwritten.empty() && unwritten.front().first <= written) unwritten.pop_front();
    if (!unwritten.empty()) {
      const double lag =
          std::chrono::duration<double, std::milli>(now - unwritten.front().second).count();
      r.maxLagMs = std::max(r.maxLagMs, lag);
    }
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  r.cpuShare = (CpuSeconds() - cpu0) / wall;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  std::string folder =
      argc > 2 ? argv[2] : (std::filesystem::temp_directory_path() / "nibp-bench-XXXXXX").string();
  if (argc <= 2 && ::mkdtemp(folder.data()) == nullptr) return 1;

  const Result without = Run(seconds, nullptr);
  records::SessionRecorder::Options options;
  options.folder = folder;
  options.startMs = records::NowMs();
  auto rec = std::make_unique<records::SessionRecorder>(std::move(options));
  if (rec->Stopped()) {
    std::fprintf(stderr, "bench_session: %s\n", rec->Failure().c_str());
    return 1;
  }
  const Result with = Run(seconds, rec.get());
  const std::string path = rec->Path();
  rec.reset();
  const auto bytes = std::filesystem::file_size(path);
  if (argc <= 2) std::filesystem::remove_all(folder);

  std::printf(
      "| session file at %d frames/s: CPU more than without it | %.2f%% of a core (%.2f%% vs "
      "%.2f%%) | < 2%% | %d s, 2 records a frame, %.1f MB written |\n",
      kRate, (with.cpuShare - without.cpuShare) * 100, with.cpuShare * 100, without.cpuShare * 100,
      seconds, static_cast<double>(bytes) / 1e6);
  std::printf(
      "| session file at %d frames/s: most behind the window | %.1f ms | <= 100 ms | %d s |\n",
      kRate, with.maxLagMs, seconds);
  return 0;
}
