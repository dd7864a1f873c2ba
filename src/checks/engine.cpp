#include "checks/engine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>

#include "program/numbers.h"
#include "results/end_detector.h"

namespace checks {
namespace {

constexpr int kEmptyBelowMmHg = 5;          // a release is over below this
constexpr int64_t kReleaseMaxMs = 10000;    // ...or after this long
constexpr int kReleaseDropMmHg = 50;        // the module released: this far down...
constexpr int64_t kReleaseWithinMs = 2000;  // ...within this long
constexpr int64_t kAfterReleaseMs = 2000;
constexpr int64_t kModuleMeanMs = 2000;  // the static reading: the mean of this last stretch
constexpr int64_t kRecentMs = 3000;
constexpr int kBleedMarginMmHg = 3;  // above a point by more than this, the cuff is bled down
constexpr int64_t kResultRetryMs = 1000;

enum class Step : uint8_t {
  kPump,
  kBleed,
  kSettle,
  kHold,
  kReference,
  kRelease,
  kWatch,
  kAfterRelease,
  kMeasure,
  kResult,
  kRest,
};

const char* SpanName(Step s) {
  switch (s) {
    case Step::kPump:
      return "pump";
    case Step::kBleed:
      return "bleed";
    case Step::kSettle:
      return "settle";
    case Step::kHold:
      return "hold";
    case Step::kReference:
      return "reference";
    case Step::kRelease:
      return "release";
    case Step::kWatch:
      return "watch";
    case Step::kAfterRelease:
      return "after release";
    case Step::kMeasure:
      return "measure";
    case Step::kResult:
      return "result";
    case Step::kRest:
      return "rest";
  }
  return "";
}

int64_t ToMs(double s) {
  return static_cast<int64_t>(std::llround(s * 1000.0));
}

long SecondsLeft(int64_t now, int64_t end) {
  return static_cast<long>(std::max<int64_t>(0, (end - now + 999) / 1000));
}

std::string MmHg(double v) {
  return program::FormatNumber(v) + " mmHg";
}

std::string Fixed1(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

std::string NotSentReason(SendResult r) {
  switch (r) {
    case SendResult::kLost:
      return "device lost";
    case SendResult::kClosed:
      return "command not sent: port closed";
    case SendResult::kFull:
      return "command not sent: output full";
    case SendResult::kSent:
      break;
  }
  return "command not sent";
}

double Clamp01(double v) {
  return std::clamp(v, 0.0, 1.0);
}

}  // namespace

double OneDecimal(double v) {
  const double r = std::round(v * 10.0) / 10.0;
  return r == 0 ? 0.0 : r;  // no "-0.0"
}

double LeakRateMmHgMin(const std::vector<TracePoint>& readings) {
  const size_t n = readings.size();
  if (n < 2) return 0;
  double mx = 0, my = 0;
  for (const TracePoint& p : readings) {
    mx += static_cast<double>(p.ms - readings.front().ms) / 60000.0;
    my += p.mmHg;
  }
  mx /= static_cast<double>(n);
  my /= static_cast<double>(n);
  double sxy = 0, sxx = 0;
  for (const TracePoint& p : readings) {
    const double dx = static_cast<double>(p.ms - readings.front().ms) / 60000.0 - mx;
    sxy += dx * (p.mmHg - my);
    sxx += dx * dx;
  }
  return sxx == 0 ? 0 : -sxy / sxx;
}

ReferenceAnswer ListReference::Read(size_t point, int /*targetMmHg*/, int64_t /*nowMs*/) {
  if (point >= mmHg_.size()) {
    return {.state = ReferenceAnswer::State::kFailed,
            .mmHg = 0,
            .reason = "no reference reading given for point " + std::to_string(point + 1)};
  }
  return {.state = ReferenceAnswer::State::kValue, .mmHg = mmHg_[point], .reason = {}};
}

void GaugeReference::OnLine(std::string_view line, int64_t ms) {
  if (const auto v = ParseGaugeLine(line, unit_)) {
    last_ = *v;
    lastMs_ = ms;
  }
}

ReferenceAnswer GaugeReference::Read(size_t /*point*/, int /*targetMmHg*/, int64_t nowMs) {
  if (last_ && nowMs - lastMs_ <= kFreshMs) {
    waitingSince_.reset();
    return {.state = ReferenceAnswer::State::kValue, .mmHg = *last_, .reason = {}};
  }
  if (!waitingSince_) waitingSince_ = nowMs;
  if (nowMs - *waitingSince_ >= kGiveUpMs) {
    waitingSince_.reset();
    return {
        .state = ReferenceAnswer::State::kFailed, .mmHg = 0, .reason = "no reading from the gauge"};
  }
  return {};
}

class Engine::Impl {
 public:
  Impl(std::vector<CheckKind> checks, Params params, CommandOut& out, ReferenceSource* reference,
       Observer* observer)
      : checks_(std::move(checks)),
        params_(std::move(params)),
        out_(out),
        reference_(reference),
        observer_(observer) {
    progress_.checkCount = checks_.size();
  }

  void Start(int64_t now) {
    if (running_ || done_ || checks_.empty()) return;
    running_ = true;
    startMs_ = now;
    nextPoll_ = now;
    BeginCheck(now);
    Tick(now);
  }

  void OnEvent(const modlink::Event& e) {
    if (!running_) return;
    switch (e.kind) {
      case modlink::EventKind::kCuffPressure:
        OnPressure(e.ms, e.mmHg);
        break;
      case modlink::EventKind::kBpData:
        OnBpData(e.ms, e.bp);
        break;
      case modlink::EventKind::kPortLost:
        Stop(Verdict::kAborted, "device lost", e.ms);
        break;
      case modlink::EventKind::kPortClosed:
        Stop(Verdict::kAborted, "port closed", e.ms);
        break;
      case modlink::EventKind::kNotSent:
        Stop(Verdict::kAborted, NotSentReason(e.reason), e.ms);
        break;
      case modlink::EventKind::kSent:
        // Whoever sent it: the cuff is vented once pump off, valves open has gone out.
        if (e.request.command == commands::Command::kPneumatics)
          ventedOut_ = e.request == commands::kAllOff;
        break;
      default:
        break;
    }
  }

  void Tick(int64_t now) {
    if (!running_) return;
    if (now >= nextPoll_) {
      nextPoll_ += kPollMs;
      if (nextPoll_ <= now) nextPoll_ = now + kPollMs;
      // Counted from the first poll not answered, so a driver that was held up (a prompt)
      // does not look like a silent module.
      if (!unansweredSince_) unansweredSince_ = now;
      if (!Send(commands::Simple(commands::Command::kGetPressure), now)) return;
    }
    if (unansweredSince_ && now - *unansweredSince_ > kNoReplyMs) {
      Stop(Verdict::kAborted,
           "no cuff pressure reply for " + program::FormatNumber(kNoReplyMs / 1000.0) + " s", now);
      return;
    }
    if (pumpOn_ && now - pumpSince_ > ToMs(params_.safety.pumpLimitS)) {
      if (Kind() == CheckKind::kOverpressure) {
        Stop(Verdict::kAborted,
             "the pump ran " + program::FormatNumber(params_.safety.pumpLimitS) +
                 " s without a release",
             now);
      } else {
        Stop(Verdict::kFail, "target not reached: the cuff or the line leaks", now);
      }
      return;
    }
    TimeSteps(now);
    if (running_) UpdateProgress(now);
  }

  void Stop(Verdict verdict, const std::string& reason, int64_t now) {
    if (!running_ || stopping_) return;
    stopping_ = true;
    if (Kind() == CheckKind::kRepeat && (step_ == Step::kMeasure || step_ == Step::kResult)) {
      (void)out_.Send(commands::Simple(commands::Command::kAbortBp));
    }
    const SendResult vent = out_.Send(commands::kAllOff);
    if (vent == SendResult::kSent) ventedOut_ = true;
    ventUnsent_ = !ventedOut_;
    allOff_ = true;
    pumpOn_ = false;
    Log("Safety: " + reason);
    if (ventUnsent_) {
      Log("Safety: the cuff could not be vented (" + NotSentReason(vent) +
          "); vent it once the port takes commands again");
    }
    cur_.verdict = verdict;
    cur_.reason = reason;
    stopping_ = false;
    FinishCheck(now);
  }

  [[nodiscard]] bool Done() const { return done_; }
  [[nodiscard]] bool VentUnsent() const { return ventUnsent_; }
  [[nodiscard]] int64_t NextTickMs() const {
    int64_t next = nextPoll_;
    if (step_ == Step::kSettle || step_ == Step::kHold || step_ == Step::kRest) {
      next = std::min(next, stepEnd_);
    }
    return next;
  }

  std::vector<CheckKind> checks_;
  Params params_;
  std::vector<CheckResult> results_;
  Progress progress_;
  std::vector<TracePoint> trace_;
  std::vector<PhaseSpan> phases_;
  int64_t startMs_ = 0;

 private:
  [[nodiscard]] CheckKind Kind() const { return checks_[index_]; }

  void Log(const std::string& line) {
    if (observer_) observer_->OnLog(line);
  }

  // False when the command did not go out: the check has been stopped.
  bool Send(const commands::Request& r, int64_t now) {
    if (r.command == commands::Command::kPneumatics) allOff_ = r == commands::kAllOff;
    const SendResult sent = out_.Send(r);
    if (sent == SendResult::kSent) {
      if (r.command == commands::Command::kPneumatics) ventedOut_ = r == commands::kAllOff;
      return true;
    }
    Stop(Verdict::kAborted, NotSentReason(sent), now);
    return false;
  }

  void Enter(Step step, int64_t now, int64_t lengthMs = 0) {
    if (!phases_.empty() && phases_.back().check == index_ && phases_.back().toMs < 0) {
      phases_.back().toMs = now;
    }
    phases_.push_back({.check = index_, .name = SpanName(step), .fromMs = now, .toMs = -1});
    step_ = step;
    stepSince_ = now;
    stepEnd_ = now + lengthMs;
  }

  void BeginCheck(int64_t now) {
    cur_ = CheckResult{};
    cur_.kind = Kind();
    cur_.verdict = Verdict::kPass;
    cur_.startMs = now;
    pumpOn_ = false;
    recent_.clear();
    hold_.clear();
    progress_.checkIndex = index_;
    progress_.check = std::string(CheckName(Kind()));
    switch (Kind()) {
      case CheckKind::kLeak:
        cur_.findings = LeakResult{};
        PumpTo(params_.leak.targetMmHg, now);
        break;
      case CheckKind::kStatic:
        cur_.findings = StaticResult{};
        point_ = 0;
        PumpTo(params_.statics.pointsMmHg[0], now);
        break;
      case CheckKind::kOverpressure:
        cur_.findings = OverpressureResult{};
        peak_ = 0;
        peakMs_ = now;
        Enter(Step::kWatch, now);
        if (!Send(commands::Pneumatics(true, true, true), now)) return;
        pumpOn_ = true;
        pumpSince_ = now;
        break;
      case CheckKind::kRepeat:
        cur_.findings = RepeatResult{};
        measurement_ = 1;
        StartMeasurement(now);
        break;
    }
  }

  [[nodiscard]] double SettleS() const {
    return Kind() == CheckKind::kLeak ? params_.leak.settleS : params_.statics.settleS;
  }

  void PumpTo(int target, int64_t now) {
    target_ = target;
    if (target == 0) {
      Enter(Step::kSettle, now, ToMs(SettleS()));
      (void)Send(commands::kAllOff, now);
    } else if (last_ && *last_ > target + kBleedMarginMmHg) {
      // The control valve bleeds slowly enough to stop near the point.
      Enter(Step::kBleed, now);
      (void)Send(commands::Pneumatics(false, false, true), now);
    } else if (last_ && *last_ >= target) {
      Enter(Step::kSettle, now, ToMs(SettleS()));
      (void)Send(commands::Pneumatics(false, true, true), now);
    } else {
      Enter(Step::kPump, now);
      if (!Send(commands::Pneumatics(true, true, true), now)) return;
      pumpOn_ = true;
      pumpSince_ = now;
    }
  }

  void StartMeasurement(int64_t now) {
    const RepeatParams& p = params_.repeat;
    detector_ = results::EndDetector{};
    measStartMs_ = now;
    Enter(Step::kMeasure, now);
    if (p.inflate && !Send(commands::SetPressure(*p.inflate), now)) return;
    (void)Send(commands::Simple(commands::StartCommand(p.mode)), now);
  }

  void OnPressure(int64_t ms, int mmHg) {
    trace_.push_back({ms, mmHg});
    last_ = mmHg;
    unansweredSince_.reset();
    recent_.push_back({ms, mmHg});
    while (!recent_.empty() && ms - recent_.front().ms > kRecentMs) recent_.pop_front();

    if (Kind() == CheckKind::kOverpressure) {
      const int ceiling = OverpressureCeiling(params_.overpressure);
      if (mmHg >= ceiling) {
        Stop(Verdict::kFail, "no release by " + MmHg(ceiling), ms);
        return;
      }
    } else if (mmHg > params_.safety.ceilingMmHg) {
      Stop(Verdict::kAborted,
           "cuff at " + MmHg(mmHg) + ", above the ceiling of " + MmHg(params_.safety.ceilingMmHg),
           ms);
      return;
    }

    switch (step_) {
      case Step::kPump:
        if (mmHg >= target_) {
          pumpOn_ = false;
          Enter(Step::kSettle, ms, ToMs(SettleS()));
          (void)Send(commands::Pneumatics(false, true, true), ms);
        }
        break;
      case Step::kBleed:
        if (mmHg <= target_) {
          Enter(Step::kSettle, ms, ToMs(SettleS()));
          (void)Send(commands::Pneumatics(false, true, true), ms);
        }
        break;
      case Step::kHold:
        hold_.push_back({ms, mmHg});
        break;
      case Step::kRelease:
        if (mmHg < kEmptyBelowMmHg) FinishCheck(ms);
        break;
      case Step::kWatch:
        Watch(ms, mmHg);
        break;
      case Step::kAfterRelease:
        if (ms >= peakMs_ + kAfterReleaseMs) {
          std::get<OverpressureResult>(cur_.findings).after2sMmHg = mmHg;
          FinishCheck(ms);
        }
        break;
      case Step::kMeasure:
        if (detector_.Feed(ms, mmHg)) {
          Enter(Step::kResult, ms);
          lastAsk_ = ms;
          (void)Send(commands::Simple(commands::Command::kGetBpData), ms);
        }
        break;
      default:
        break;
    }
  }

  void Watch(int64_t ms, int mmHg) {
    if (mmHg > peak_) {
      peak_ = mmHg;
      peakMs_ = ms;
    }
    // The highest reading of the last 2 s, and when it was.
    const TracePoint* top = nullptr;
    for (const TracePoint& r : recent_) {
      if (ms - r.ms <= kReleaseWithinMs && (!top || r.mmHg > top->mmHg)) top = &r;
    }
    if (!top || top->mmHg - mmHg < kReleaseDropMmHg) return;
    const OverpressureParams& p = params_.overpressure;
    auto& res = std::get<OverpressureResult>(cur_.findings);
    res.released = true;
    res.peakMmHg = peak_;
    res.releaseS = OneDecimal(static_cast<double>(peakMs_ - pumpSince_) / 1000.0);
    const int low = p.limitMmHg - p.windowBelowMmHg;
    const int high = p.limitMmHg + p.windowAboveMmHg;
    if (peak_ < low || peak_ > high) {
      cur_.verdict = Verdict::kFail;
      cur_.reason =
          "released at " + MmHg(peak_) + ", outside " + std::to_string(low) + " to " + MmHg(high);
    }
    pumpOn_ = false;
    Enter(Step::kAfterRelease, ms);
    (void)Send(commands::kAllOff, ms);
  }

  void OnBpData(int64_t ms, const protocol::BpData& bp) {
    if (step_ != Step::kResult) return;
    auto& res = std::get<RepeatResult>(cur_.findings);
    res.rows.push_back({.index = measurement_,
                        .startMs = measStartMs_,
                        .durationS = static_cast<double>(ms - measStartMs_) / 1000.0,
                        .peakMmHg = detector_.Peak(),
                        .bp = bp});
    if (measurement_ >= params_.repeat.count) {
      JudgeRepeat();
      FinishCheck(ms);
      return;
    }
    ++measurement_;
    if (params_.repeat.restS > 0) {
      Enter(Step::kRest, ms, ToMs(params_.repeat.restS));
    } else {
      StartMeasurement(ms);
    }
  }

  void JudgeRepeat() {
    const results::Limits& limits = params_.repeat.limits;
    const bool anyLimit = std::any_of(limits.of.begin(), limits.of.end(),
                                      [](const auto& l) { return l.has_value(); });
    if (!anyLimit) {
      cur_.verdict = Verdict::kInfo;
      return;
    }
    for (const auto& row : std::get<RepeatResult>(cur_.findings).rows) {
      const std::string which = "measurement " + std::to_string(row.index);
      std::string why;
      if (!results::IsValidResult(row.bp)) {
        why = which + " ended with Err " + std::to_string(row.bp.err);
      } else if (const auto v = results::Violations(limits, row.bp); !v.empty()) {
        why = which + ": " + v.front();
      }
      if (!why.empty()) {
        cur_.verdict = Verdict::kFail;
        cur_.reason = why;
        return;
      }
    }
  }

  void TimeSteps(int64_t now) {
    switch (step_) {
      case Step::kBleed:
        if (now - stepSince_ > ToMs(params_.safety.pumpLimitS)) {
          Stop(Verdict::kAborted, "could not bleed down to " + MmHg(target_), now);
        }
        break;
      case Step::kSettle:
        if (now < stepEnd_) break;
        if (Kind() == CheckKind::kLeak) {
          Enter(Step::kHold, now, ToMs(params_.leak.holdS));
        } else {
          TakeModuleReading(now);
        }
        break;
      case Step::kHold:
        if (now >= stepEnd_) EndHold(now);
        break;
      case Step::kReference:
        AskReference(now);
        break;
      case Step::kRelease:
        if (now - stepSince_ >= kReleaseMaxMs) FinishCheck(now);
        break;
      case Step::kAfterRelease:
        // No reading came 2 s after the release: the last one stands for it.
        if (now >= peakMs_ + kAfterReleaseMs + kNoReplyMs) {
          std::get<OverpressureResult>(cur_.findings).after2sMmHg = last_;
          FinishCheck(now);
        }
        break;
      case Step::kMeasure:
      case Step::kResult:
        if (now - measStartMs_ > ToMs(params_.repeat.timeoutS)) {
          Stop(Verdict::kAborted,
               "measurement " + std::to_string(measurement_) + " did not end within " +
                   program::FormatNumber(params_.repeat.timeoutS) + " s",
               now);
        } else if (step_ == Step::kResult && now - lastAsk_ >= kResultRetryMs) {
          lastAsk_ = now;
          (void)Send(commands::Simple(commands::Command::kGetBpData), now);
        }
        break;
      case Step::kRest:
        if (now >= stepEnd_) StartMeasurement(now);
        break;
      case Step::kPump:
      case Step::kWatch:
        break;
    }
  }

  void EndHold(int64_t now) {
    if (hold_.size() < 2) {
      Stop(Verdict::kAborted, "too few readings during the hold", now);
      return;
    }
    auto& res = std::get<LeakResult>(cur_.findings);
    res.rateMmHgMin = OneDecimal(LeakRateMmHgMin(hold_));
    res.startMmHg = hold_.front().mmHg;
    res.endMmHg = hold_.back().mmHg;
    res.dropMmHg = res.startMmHg - res.endMmHg;
    if (res.rateMmHgMin > params_.leak.limitMmHgMin) {
      cur_.verdict = Verdict::kFail;
      cur_.reason = "leak rate " + Fixed1(res.rateMmHgMin) + " mmHg/min above the limit of " +
                    Fixed1(params_.leak.limitMmHgMin) + " mmHg/min";
    }
    Enter(Step::kRelease, now);
    (void)Send(commands::kAllOff, now);
  }

  void TakeModuleReading(int64_t now) {
    double sum = 0;
    int n = 0;
    for (const TracePoint& r : recent_) {
      if (now - r.ms <= kModuleMeanMs) {
        sum += r.mmHg;
        ++n;
      }
    }
    if (n == 0) {
      Stop(Verdict::kAborted, "no cuff pressure reading to compare", now);
      return;
    }
    moduleMmHg_ = OneDecimal(sum / n);
    Enter(Step::kReference, now);
    AskReference(now);
  }

  void AskReference(int64_t now) {
    if (!reference_) {
      Stop(Verdict::kAborted, "no reference for the static check", now);
      return;
    }
    const ReferenceAnswer a = reference_->Read(point_, target_, now);
    if (a.state == ReferenceAnswer::State::kPending) return;
    if (a.state == ReferenceAnswer::State::kFailed) {
      Stop(Verdict::kAborted, "reference: " + a.reason, now);
      return;
    }
    auto& res = std::get<StaticResult>(cur_.findings);
    const double reference = OneDecimal(a.mmHg);
    res.points.push_back({.targetMmHg = target_,
                          .moduleMmHg = moduleMmHg_,
                          .referenceMmHg = reference,
                          .errorMmHg = OneDecimal(moduleMmHg_ - reference)});
    const auto& points = params_.statics.pointsMmHg;
    if (++point_ < points.size()) {
      PumpTo(points[point_], now);
      return;
    }
    // The worst point names the failure.
    const auto worst = std::max_element(res.points.begin(), res.points.end(),
                                        [](const StaticPoint& a, const StaticPoint& b) {
                                          return std::abs(a.errorMmHg) < std::abs(b.errorMmHg);
                                        });
    if (std::abs(worst->errorMmHg) > params_.statics.limitMmHg) {
      cur_.verdict = Verdict::kFail;
      cur_.reason = "error " + Fixed1(worst->errorMmHg) + " mmHg at " + MmHg(worst->targetMmHg) +
                    ", beyond the limit of " + Fixed1(params_.statics.limitMmHg) + " mmHg";
    }
    Enter(Step::kRelease, now);
    (void)Send(commands::kAllOff, now);
  }

  void FinishCheck(int64_t now) {
    if (!running_) return;
    // Every check ends with the pump off and both valves open.
    if (!allOff_) {
      if (out_.Send(commands::kAllOff) == SendResult::kSent) ventedOut_ = true;
      ventUnsent_ = !ventedOut_;
      allOff_ = true;
    }
    pumpOn_ = false;
    if (!phases_.empty() && phases_.back().toMs < 0) phases_.back().toMs = now;
    cur_.endMs = now;
    results_.push_back(cur_);
    if (observer_) observer_->OnCheckDone(results_.back());
    if (cur_.verdict == Verdict::kAborted || ++index_ >= checks_.size()) {
      running_ = false;
      done_ = true;
      return;
    }
    BeginCheck(now);
  }

  void UpdateProgress(int64_t now) {
    Progress& p = progress_;
    p.cuffMmHg = last_;
    p.secondsLeft.reset();
    const double level = last_ && target_ > 0 ? Clamp01(static_cast<double>(*last_) / target_) : 0;
    const double elapsed = stepEnd_ > stepSince_
                               ? Clamp01(static_cast<double>(now - stepSince_) /
                                         static_cast<double>(stepEnd_ - stepSince_))
                               : 0;
    double sub = 0;  // within the step
    switch (step_) {
      case Step::kPump:
        p.phase = "Pumping to " + MmHg(target_);
        sub = level;
        break;
      case Step::kBleed:
        p.phase = "Bleeding to " + MmHg(target_);
        break;
      case Step::kSettle:
        p.secondsLeft = SecondsLeft(now, stepEnd_);
        p.phase = "Settling: " + std::to_string(*p.secondsLeft) + " s left";
        sub = elapsed;
        break;
      case Step::kHold:
        p.secondsLeft = SecondsLeft(now, stepEnd_);
        p.phase = "Holding: " + std::to_string(*p.secondsLeft) + " s left";
        sub = elapsed;
        break;
      case Step::kReference:
        p.phase = "Waiting for the reference at " + MmHg(target_);
        sub = 1;
        break;
      case Step::kRelease:
        p.phase = "Releasing";
        sub = 1;
        break;
      case Step::kWatch:
        p.phase = "Pumping until the module releases";
        sub = last_ ? Clamp01(static_cast<double>(*last_) / params_.overpressure.limitMmHg) : 0;
        break;
      case Step::kAfterRelease:
        p.phase = "Released at " + MmHg(peak_);
        sub = 1;
        break;
      case Step::kMeasure:
        p.phase = "Measurement " + std::to_string(measurement_) + " of " +
                  std::to_string(params_.repeat.count);
        break;
      case Step::kResult:
        p.phase = "Waiting for the result of measurement " + std::to_string(measurement_);
        sub = 0.5;
        break;
      case Step::kRest:
        p.secondsLeft = SecondsLeft(now, stepEnd_);
        p.phase = "Resting: " + std::to_string(*p.secondsLeft) + " s left";
        break;
    }
    switch (Kind()) {
      case CheckKind::kLeak:
        p.fraction = step_ == Step::kPump     ? 0.2 * sub
                     : step_ == Step::kSettle ? 0.2 + 0.1 * sub
                     : step_ == Step::kHold   ? 0.3 + 0.65 * sub
                                              : 0.95;
        break;
      case CheckKind::kStatic: {
        const double n = static_cast<double>(params_.statics.pointsMmHg.size());
        const double within = step_ == Step::kSettle ? 0.5 + 0.5 * sub : 0.5 * sub;
        p.fraction = Clamp01((static_cast<double>(point_) + within) / n);
        break;
      }
      case CheckKind::kOverpressure:
        p.fraction = step_ == Step::kWatch ? 0.9 * sub : 0.95;
        break;
      case CheckKind::kRepeat:
        p.fraction = Clamp01((static_cast<double>(measurement_ - 1) + sub) /
                             static_cast<double>(params_.repeat.count));
        break;
    }
    if (observer_) observer_->OnProgress(p);
  }

  CommandOut& out_;
  ReferenceSource* reference_;
  Observer* observer_;

  bool running_ = false;
  bool done_ = false;
  bool stopping_ = false;
  size_t index_ = 0;
  CheckResult cur_;
  Step step_ = Step::kPump;
  int64_t stepSince_ = 0;
  int64_t stepEnd_ = 0;
  int64_t nextPoll_ = 0;

  // The cuff as last read, and the readings of the last few seconds.
  std::optional<int> last_;
  std::optional<int64_t> unansweredSince_;
  std::deque<TracePoint> recent_;

  bool allOff_ = false;      // the last pneumatics command sent was pump off, valves open
  bool ventUnsent_ = false;  // the run ended without pump off, valves open having gone out
  bool ventedOut_ = true;    // the last pneumatics command that went out was pump off, valves open
  bool pumpOn_ = false;
  int64_t pumpSince_ = 0;
  int target_ = 0;

  std::vector<TracePoint> hold_;
  size_t point_ = 0;
  double moduleMmHg_ = 0;
  int peak_ = 0;
  int64_t peakMs_ = 0;
  long measurement_ = 0;
  int64_t measStartMs_ = 0;
  int64_t lastAsk_ = 0;
  results::EndDetector detector_;
};

Engine::Engine(std::vector<CheckKind> checks, Params params, CommandOut& out,
               ReferenceSource* reference, Observer* observer)
    : impl_(
          std::make_unique<Impl>(std::move(checks), std::move(params), out, reference, observer)) {}
Engine::~Engine() = default;

void Engine::Start(int64_t nowMs) {
  impl_->Start(nowMs);
}
void Engine::OnEvent(const modlink::Event& event) {
  impl_->OnEvent(event);
}
void Engine::OnTick(int64_t nowMs) {
  impl_->Tick(nowMs);
}
void Engine::Abort(std::string_view reason, int64_t nowMs) {
  impl_->Stop(Verdict::kAborted, std::string(reason), nowMs);
}
bool Engine::Done() const {
  return impl_->Done();
}
bool Engine::VentUnsent() const {
  return impl_->VentUnsent();
}
int64_t Engine::NextTickMs() const {
  return impl_->NextTickMs();
}
const std::vector<CheckKind>& Engine::Checks() const {
  return impl_->checks_;
}
const Params& Engine::Parameters() const {
  return impl_->params_;
}
const std::vector<CheckResult>& Engine::Results() const {
  return impl_->results_;
}
const Progress& Engine::CurrentProgress() const {
  return impl_->progress_;
}
const std::vector<TracePoint>& Engine::Trace() const {
  return impl_->trace_;
}
const std::vector<PhaseSpan>& Engine::Phases() const {
  return impl_->phases_;
}
int64_t Engine::StartMs() const {
  return impl_->startMs_;
}

}  // namespace checks
