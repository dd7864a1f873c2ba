// Does the display keep up with the line? The console runs headless with its real serial port
// against the simulator, whose frames are numbered so that a lost, repeated or swapped one shows:
//   bench_stream stream SIM HZ SECONDS   a stream of HZ frames a second
//   bench_stream burst SIM FRAMES        FRAMES frames as fast as the line takes them
// Each frame's delay runs from the simulator's logged send time to its raw-log line appearing.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "console/nibp_dlg.h"
#include "res/resource.h"
#include "support/headless.h"
#include "support/raw_line.h"
#include "support/sent_log.h"
#include "support/sim_process.h"

namespace {

using namespace std::chrono_literals;
using testsupport::MonoNs;
using testsupport::SentFrame;

// Time the console gets, after the last frame counted was sent, to show what it still holds.
constexpr auto kCatchUp = 30s;

// The frames shown so far, each with the moment its raw line was first seen.
class ShownFrames {
 public:
  explicit ShownFrames(const fw::headless::HeadlessWindow& w) : w_(w) {}
  void Take() {
    const auto& lines = w_.Lines(IDC_LIST_RAW);
    const int64_t now = MonoNs();
    for (; seen_ < lines.size(); ++seen_) {
      if (!lines[seen_].starts_with("PC <-- MODULE ")) continue;
      hex_.push_back(testsupport::RawLineToHex(lines[seen_]));
      ns_.push_back(now);
    }
  }
  [[nodiscard]] const std::vector<std::string>& Hex() const { return hex_; }
  [[nodiscard]] int64_t Ns(size_t i) const { return ns_[i]; }

 private:
  const fw::headless::HeadlessWindow& w_;
  size_t seen_ = 0;
  std::vector<std::string> hex_;
  std::vector<int64_t> ns_;
};

int PrintUsage(const char* argv0) {
  std::fprintf(stderr, "usage: %s stream SIM HZ SECONDS | burst SIM FRAMES\n", argv0);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return PrintUsage(argv[0]);
  const std::string_view mode = argv[1];
  const std::string sim = argv[2];
  const bool burst = mode == "burst";
  if (!burst && (mode != "stream" || argc != 5)) return PrintUsage(argv[0]);
  const double hz = burst ? 0 : std::atof(argv[3]);
  const int seconds = burst ? 0 : std::atoi(argv[4]);
  const long frames = burst ? std::atol(argv[3]) : 0;
  if (burst ? frames <= 0 : hz <= 0 || seconds <= 0) return PrintUsage(argv[0]);

  testsupport::TempConfigHome home;
  const std::string sentLog = home.Dir() + "/sent-times";
  std::vector<std::string> args = {"--port",           "COM1", "--quiet", "--numbered",
                                   "--log-sent-times", sentLog};
  if (burst) {
    args.insert(args.end(), {"--burst", argv[3]});
  } else {
    args.insert(args.end(), {"--stream", argv[3]});
  }
  testsupport::SimProcess simulator(sim, args);
  if (!simulator.Running() || !testsupport::SimProcess::WaitForPath(home.PortLink("COM1"), 10s)) {
    std::fprintf(stderr, "the simulator did not start: %s\n", sim.c_str());
    return 1;
  }

  fw::headless::HeadlessBackend ui;
  CNibpDlg dlg(ui);
  if (!dlg.Create()) return 1;
  auto* w = ui.FindWindow(IDD_QUIRAB_NIBP_DIALOG);
  w->Click(IDC_PORT_OPEN);
  if (w->GetText(IDC_PORT_STATUS) != "COM1 OPEN") {
    std::fprintf(stderr, "the port did not open\n");
    return 1;
  }
  ShownFrames shown(*w);
  w->Click(IDC_GET_PRESSURE);  // the simulator starts with the console's first command
  const int64_t start = MonoNs();

  // The frames that count: with a stream, those sent in its first SECONDS; with a burst, all of
  // them and the reply before them.
  int64_t end = INT64_MAX;
  if (burst) {
    const size_t all = static_cast<size_t>(frames) + 1;
    w->RunUntil(
        [&] {
          shown.Take();
          return shown.Hex().size() >= all && testsupport::ReadSentTimes(sentLog).size() >= all;
        },
        std::chrono::seconds(60 + frames / 1000));
  } else {
    end = start + int64_t{seconds} * 1'000'000'000;
    w->RunUntil(
        [&] {
          shown.Take();
          return MonoNs() >= end;
        },
        std::chrono::seconds(seconds + 5));
    auto counted = testsupport::ReadSentTimes(sentLog);
    std::erase_if(counted, [&](const SentFrame& f) { return f.ns > end; });
    const std::string last = counted.empty() ? std::string() : counted.back().hex;
    size_t looked = 0;
    w->RunUntil(
        [&] {
          shown.Take();
          for (; looked < shown.Hex().size(); ++looked) {
            if (shown.Hex()[looked] == last) return true;
          }
          return false;
        },
        kCatchUp);
  }
  shown.Take();
  w->Click(IDC_PORT_CLOSE);
  // Read after the close: every frame shown is in it.
  const std::vector<SentFrame> sent = testsupport::ReadSentTimes(sentLog);
  const auto counts = [&](const SentFrame& f) { return f.ns <= end; };
  const size_t required = static_cast<size_t>(std::count_if(sent.begin(), sent.end(), counts));
  if (required < 2) {
    std::printf("the simulator sent %zu frames\n", sent.size());
    return 1;
  }

  const auto m = testsupport::MatchShown(shown.Hex(), sent, counts);
  size_t shownCount = 0;
  std::vector<double> delayMs(required, -1);
  for (size_t i = 0; i < m.sentIndex.size(); ++i) {
    const size_t j = m.sentIndex[i];
    if (j >= required) continue;
    ++shownCount;
    delayMs[j] = static_cast<double>(shown.Ns(i) - sent[j].ns) / 1e6;
  }
  const bool inOrder = m.missing == 0 && m.unexpected == 0;
  std::vector<double> delays;
  std::copy_if(delayMs.begin(), delayMs.end(), std::back_inserter(delays),
               [](double d) { return d >= 0; });
  std::sort(delays.begin(), delays.end());
  const double lastMs = delayMs.back();
  const std::string lastText =
      lastMs >= 0 ? std::to_string(static_cast<long>(lastMs + 0.5)) + " ms" : "never shown";
  // From the first frame after the reply to the first command.
  const double spanS = static_cast<double>(sent[required - 1].ns - sent[1].ns) / 1e9;
  std::printf("sent %zu frames over %.2f s (%.0f /s), shown %zu, missing %zu, unexpected %zu %s\n",
              required, spanS, static_cast<double>(required - 2) / spanS, shownCount, m.missing,
              m.unexpected, m.firstUnexpected.c_str());
  if (!delays.empty()) {
    std::printf("delay ms: median %.1f, 99th percentile %.1f, worst %.1f, last %.1f\n",
                delays[delays.size() / 2], delays[delays.size() * 99 / 100], delays.back(), lastMs);
  }

  const double share = 100.0 * static_cast<double>(shownCount) / static_cast<double>(required);
  const char* order = inOrder ? "in order" : "NOT all once in order";
  if (burst) {
    std::printf(
        "| burst of %ld frames: shown once, %s | %.2f %% | 100 %% | %zu of %zu frames (the "
        "burst and the reply before it), sent in %.2f s; headless console, pty |\n",
        frames, order, share, shownCount, required, spanS);
    std::printf(
        "| burst: last frame shown after the burst's end | %s | < 250 ms | from its logged send "
        "time to its raw line |\n",
        lastText.c_str());
  } else {
    std::printf(
        "| stream at %g frames/s: shown once, %s | %.2f %% | 100 %% | %zu of %zu frames sent in "
        "%d s; headless console, pty |\n",
        hz, order, share, shownCount, required, seconds);
    std::printf(
        "| stream at %g frames/s: delay of the last frame | %s | < 100 ms | from its logged send "
        "time to its raw line; median %.1f ms, worst %.1f ms |\n",
        hz, lastText.c_str(), delays.empty() ? 0.0 : delays[delays.size() / 2],
        delays.empty() ? 0.0 : delays.back());
  }
  return 0;
}
