#pragma once
// The service checks as state machines over the link's typed events, fed a clock. The driver (the
// command line, a window) owns the link and the clock; the engine only says what to send.
//
//   Engine engine(kinds, params, out, &reference, &observer);
//   engine.Start(nowMs);
//   ... engine.OnEvent(event) for every event of the link, engine.OnTick(nowMs) at least every
//   NextTickMs() (the 250 ms Get Pressure poll comes out of the ticks) ...
//   until engine.Done(); then Results(), Trace(), Phases() for the report.
//
// Every time is milliseconds on the clock the link stamps its events with (Event::ms).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "checks/check_types.h"
#include "checks/gauge.h"
#include "link/event.h"

namespace checks {

inline constexpr int64_t kPollMs = 250;
// A check stops when the module has left its polls unanswered for this long.
inline constexpr int64_t kNoReplyMs = 3000;

// Where the engine's commands go: the link. kSent or the reason it was not.
class CommandOut {
 public:
  virtual ~CommandOut() = default;
  virtual SendResult Send(const commands::Request& request) = 0;
};

// The static check's reference at a point, asked when the module's reading is taken and asked
// again at every tick while kPending (a prompt being answered, a gauge not heard from yet).
struct ReferenceAnswer {
  enum class State : uint8_t { kValue, kPending, kFailed };
  State state = State::kPending;
  double mmHg = 0;     // kValue
  std::string reason;  // kFailed: "no reading from the gauge"
};
class ReferenceSource {
 public:
  virtual ~ReferenceSource() = default;
  // `point` counts from 0 in the order of the points.
  virtual ReferenceAnswer Read(size_t point, int targetMmHg, int64_t nowMs) = 0;
};

// Readings given up front (--reference 0,50.2,...), one per point.
class ListReference final : public ReferenceSource {
 public:
  explicit ListReference(std::vector<double> mmHg) : mmHg_(std::move(mmHg)) {}
  ReferenceAnswer Read(size_t point, int targetMmHg, int64_t nowMs) override;

 private:
  std::vector<double> mmHg_;
};

// A gauge's lines, fed as they arrive; the reading is the newest one if it is fresh.
class GaugeReference final : public ReferenceSource {
 public:
  static constexpr int64_t kFreshMs = 1000;
  // The gauge is given up on when it has said nothing usable for this long at a point.
  static constexpr int64_t kGiveUpMs = 5000;

  explicit GaugeReference(Unit unit) : unit_(unit) {}
  // One line without its end, received at `ms`; lines without a number are skipped.
  void OnLine(std::string_view line, int64_t ms);
  ReferenceAnswer Read(size_t point, int targetMmHg, int64_t nowMs) override;

 private:
  Unit unit_;
  std::optional<double> last_;
  int64_t lastMs_ = 0;
  std::optional<int64_t> waitingSince_;
};

struct Progress {
  std::string check;                // "leak"
  std::string phase;                // "Pumping to 250 mmHg", "Holding: 42 s left"
  std::optional<long> secondsLeft;  // of the phase, when it has a length
  double fraction = 0;              // of the current check, 0..1
  std::optional<int> cuffMmHg;      // the last reading
  size_t checkIndex = 0;            // of the run, from 0
  size_t checkCount = 0;
};

// A stretch of one check's run with one phase, for the chart's shading.
struct PhaseSpan {
  size_t check = 0;  // index into Results()
  std::string name;  // "pump", "settle", "hold", "bleed", "reference", "release", "watch",
                     // "after release", "measure", "result", "rest"
  int64_t fromMs = 0;
  int64_t toMs = 0;
};

struct TracePoint {
  int64_t ms = 0;
  int mmHg = 0;
};

// What the engine tells besides commands; every call on the driver's thread.
class Observer {
 public:
  virtual ~Observer() = default;
  // "Safety: device lost".
  virtual void OnLog(std::string_view /*line*/) {}
  virtual void OnProgress(const Progress& /*progress*/) {}
  virtual void OnCheckDone(const CheckResult& /*result*/) {}
};

class Engine {
 public:
  // `reference` is needed only when `checks` holds the static check; `observer` may be null.
  Engine(std::vector<CheckKind> checks, Params params, CommandOut& out,
         ReferenceSource* reference = nullptr, Observer* observer = nullptr);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  void Start(int64_t nowMs);
  void OnEvent(const modlink::Event& event);
  void OnTick(int64_t nowMs);
  // Stops the running check at once (pump off, valves open): "stopped by a signal",
  // "aborted by the user". The run ends ABORTED.
  void Abort(std::string_view reason, int64_t nowMs);

  [[nodiscard]] bool Done() const;
  // The run stopped for safety but its pump off, valves open could not be sent (the port was
  // lost or closed): the cuff may still hold pressure.
  [[nodiscard]] bool VentUnsent() const;
  // The latest time the next OnTick is due.
  [[nodiscard]] int64_t NextTickMs() const;
  [[nodiscard]] const std::vector<CheckKind>& Checks() const;
  [[nodiscard]] const Params& Parameters() const;
  // The checks run so far, finished ones only, in order; a run stops after the first ABORTED.
  [[nodiscard]] const std::vector<CheckResult>& Results() const;
  [[nodiscard]] Verdict OverallVerdict() const { return Overall(Results()); }
  [[nodiscard]] const Progress& CurrentProgress() const;
  // Every cuff pressure read while the run went on.
  [[nodiscard]] const std::vector<TracePoint>& Trace() const;
  [[nodiscard]] const std::vector<PhaseSpan>& Phases() const;
  [[nodiscard]] int64_t StartMs() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// The negative slope of the least-squares line through the readings, in mmHg per minute.
[[nodiscard]] double LeakRateMmHgMin(const std::vector<TracePoint>& readings);
// Rounded half away from zero to one decimal.
[[nodiscard]] double OneDecimal(double v);

}  // namespace checks
