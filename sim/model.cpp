#include "sim/model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "protocol/frames.h"
#include "protocol/reply.h"

namespace sim {
namespace {

constexpr int kReinflateMargin = 10;  // the top of the deflation must lie this far above systolic
constexpr int kReinflateAbove = 30;   // a re-inflation aims this far above systolic
constexpr int kMaxReinflations = 2;
constexpr int kEnvelope = 10;         // pulses show from this far below dia to this far above sys
constexpr double kDeflateFloor = 15;  // never deflate in steps below this

std::string Hex(std::span<const uint8_t> bytes) {
  std::string s;
  protocol::AppendHexSpaced(s, bytes);
  if (!s.empty()) s.pop_back();
  return s;
}

std::string Format(const char* fmt, auto... args) {
  char buf[160];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

const char* ModeName(uint8_t code) {
  switch (code) {
    case kCmdStartNeonate:
      return "neonate";
    case kCmdStartPediatric:
      return "pediatric";
    default:
      return "adult";
  }
}

uint8_t ModeBits(uint8_t code) {
  switch (code) {
    case kCmdStartNeonate:
      return 1;
    case kCmdStartPediatric:
      return 2;
    default:
      return 0;
  }
}

// Smaller cuffs deflate in smaller steps.
double StepSize(uint8_t code) {
  switch (code) {
    case kCmdStartNeonate:
      return 5;
    case kCmdStartPediatric:
      return 6;
    default:
      return 8;
  }
}

void PutLe16(Bytes& out, unsigned v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

uint16_t Clamp16(double v) {
  return static_cast<uint16_t>(std::clamp(std::lround(v), 0L, 65535L));
}

}  // namespace

size_t CommandLength(uint8_t code) {
  switch (code) {
    case kCmdSetPressure:
    case kCmdRequest:
      return 5;
    case kCmdStartAdult:
    case kCmdStartNeonate:
    case kCmdStartPediatric:
      return 3;
    case kCmdPneumatics:
      return 6;
    default:
      return 0;
  }
}

std::vector<Command> CommandParser::Feed(std::span<const uint8_t> bytes) {
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  std::vector<Command> out;
  size_t pos = 0;
  while (true) {
    while (pos < pending_.size() && pending_[pos] != protocol::kCommandStart) ++pos;
    if (pending_.size() - pos < 2) break;
    const size_t len = CommandLength(pending_[pos + 1]);
    if (len == 0) {  // a stray start byte
      ++pos;
      continue;
    }
    if (pending_.size() - pos < len) break;
    const std::span<const uint8_t> frame(pending_.data() + pos, len);
    Command cmd{Bytes(frame.begin(), frame.end()), protocol::SumsToZero(frame)};
    pos += cmd.checksumOk ? len : 1;
    out.push_back(std::move(cmd));
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pos));
  return out;
}

Bytes MakeReply(std::span<const uint8_t> payload) {
  Bytes f;
  f.reserve(payload.size() + 3);
  f.push_back(protocol::kReplyStart);
  f.push_back(static_cast<uint8_t>(payload.size() + 3));
  f.insert(f.end(), payload.begin(), payload.end());
  f.push_back(protocol::Checksum(f));
  return f;
}

Bytes CharReply(char c) {
  const uint8_t b = static_cast<uint8_t>(c);
  return MakeReply(std::span(&b, 1));
}

Bytes PressureReply(uint16_t mmHg) {
  Bytes p;
  PutLe16(p, mmHg);
  return MakeReply(p);
}

int MeanArterialPressure(int systolic, int diastolic) {
  return static_cast<int>(std::lround(diastolic + (systolic - diastolic) / 3.0));
}

Bytes BpDataReply(const Result& r) {
  Bytes p;
  PutLe16(p, r.systolic);
  PutLe16(p, r.diastolic);
  p.push_back(r.sq);
  p.push_back(r.status);
  p.insert(p.end(), r.tc.begin(), r.tc.end());
  PutLe16(p, r.heartRate);
  PutLe16(p, r.map);
  p.push_back(r.err);
  return MakeReply(p);
}

void Cuff::Advance(double seconds) {
  while (seconds > 0) {
    const double dt = std::min(seconds, kMaxStep);
    seconds -= dt;
    double rate = valves_.pump ? kPumpRate : 0.0;
    if (!valves_.controlClosed) rate -= kBleedRate * pressure_;
    if (!valves_.dumpClosed) rate -= kDumpRate * pressure_;
    rate -= faults_.leakMmHgMin / 60.0 * pressure_ / 250.0;
    pressure_ = std::clamp(pressure_ + rate * dt, 0.0, kStallPressure);
    // An open valve lets the last whiff out instead of approaching zero for ever.
    if (rate < 0 && pressure_ < 0.05) pressure_ = 0;
  }
}

uint16_t Cuff::Reading() const {
  return Clamp16(pressure_ * faults_.sensorGain + faults_.sensorOffset);
}

Module::Module(Patient patient) : patient_(patient) {}

void Module::Event(std::string line) {
  events_.push_back(std::move(line));
}

void Module::Answer(Bytes frame, std::string what) {
  replies_.push_back({std::move(frame), std::move(what)});
}

std::vector<Reply> Module::TakeReplies() {
  return std::exchange(replies_, {});
}
std::vector<std::string> Module::TakeEvents() {
  return std::exchange(events_, {});
}

bool Module::Busy() const {
  return phase_ != Phase::kIdle || cuff_.valves().pump || cuff_.pressure() > 0;
}

Reply Module::PressureReport() const {
  const uint16_t p = cuff_.Reading();
  return {PressureReply(p), Format("cuff pressure %d (stream)", p)};
}

void Module::Receive(std::span<const uint8_t> bytes) {
  for (const Command& cmd : parser_.Feed(bytes)) Handle(cmd);
}

void Module::Handle(const Command& cmd) {
  const std::string hex = Hex(cmd.bytes);
  if (!cmd.checksumOk) {
    Event("received " + hex + " (bad checksum)");
    Answer(CharReply(kReplyBadChecksum), "reply E");
    return;
  }
  const uint8_t code = cmd.bytes[1];
  auto accepted = [this] { Answer(CharReply(kReplyAccepted), "reply K"); };
  switch (code) {
    case kCmdSetPressure:
      setPressure_ = cmd.bytes[2] | (cmd.bytes[3] << 8);
      Event(Format("received %s (Set Pressure %d mmHg)", hex.c_str(), setPressure_));
      accepted();
      return;
    case kCmdStartAdult:
    case kCmdStartNeonate:
    case kCmdStartPediatric:
      Event(Format("received %s (Start %s)", hex.c_str(), ModeName(code)));
      if (phase_ != Phase::kIdle) {
        Event("start ignored: a measurement is running");
        Answer(CharReply(kReplyBusy), "reply B");
        return;
      }
      Start(code);
      accepted();
      return;
    case kCmdPneumatics: {
      const Pneumatics p{cmd.bytes[2] != 0, cmd.bytes[3] != 0, cmd.bytes[4] != 0};
      Event(Format("received %s (Pneumatics: pump %s, control valve %s, dump valve %s)",
                   hex.c_str(), p.pump ? "on" : "off", p.controlClosed ? "closed" : "open",
                   p.dumpClosed ? "closed" : "open"));
      if (phase_ != Phase::kIdle) End(kErrInterrupted);
      cuff_.Set(p);
      accepted();
      return;
    }
    case kCmdRequest:
      break;
    default:
      return;  // the parser only yields known codes
  }
  switch (cmd.bytes[2] | (cmd.bytes[3] << 8)) {
    case kRequestAbort:
      Event("received " + hex + " (Abort BP)");
      if (phase_ != Phase::kIdle) End(kErrAborted);
      cuff_.Set({});  // pump off, both valves open
      accepted();
      return;
    case kRequestPressure: {
      Event("received " + hex + " (Get Pressure)");
      const uint16_t p = cuff_.Reading();
      Answer(PressureReply(p), Format("cuff pressure %d", p));
      return;
    }
    case kRequestBpData:
      Event("received " + hex + " (Get BP Data)");
      Answer(BpDataReply(result_),
             Format("BP data %d / %d mmHg, heart rate %d, MAP %d, SQ %d, Status %d, Err %d",
                    result_.systolic, result_.diastolic, result_.heartRate, result_.map, result_.sq,
                    result_.status, result_.err));
      return;
    default:
      Event("received " + hex + " (unknown request)");
      Answer(CharReply(kReplyUnknown), "reply ?");
      return;
  }
}

void Module::Start(uint8_t mode) {
  mode_ = mode;
  target_ = std::clamp<double>(setPressure_, 0, Cuff::kMaxPressure);
  elapsed_ = 0;
  peak_ = cuff_.pressure();
  steps_ = 0;
  pulses_ = 0;
  reinflations_ = 0;
  bleeding_ = false;
  pendingErr_ = kErrNone;
  ++counter_;
  phase_ = Phase::kInflating;
  cuff_.Set({true, true, true});
  Event(Format("measurement %d (%s): inflating to %.0f mmHg", counter_, ModeName(mode), target_));
}

void Module::Advance(double seconds) {
  if (!Busy()) return;  // nothing moves
  while (seconds > 0) {
    const double dt = std::min(seconds, Cuff::kMaxStep);
    seconds -= dt;
    Step(dt);
  }
}

void Module::Step(double dt) {
  cuff_.Advance(dt);
  if (overpressure_ > 0 && cuff_.pressure() > overpressure_) {
    cuff_.Set({});  // pump off, both valves open
    Event(Format("overpressure: cuff dumped above %d mmHg", overpressure_));
    if (phase_ != Phase::kIdle) End(kErrOutOfRange);
  }
  if (phase_ == Phase::kIdle) return;
  elapsed_ += dt;
  const double p = cuff_.pressure();
  peak_ = std::max(peak_, p);
  const double hold = std::max(0.8, 90.0 / std::max(patient_.heartRate, 1));  // 1.5 beats
  switch (phase_) {
    case Phase::kInflating:
      if (p < target_) return;
      if (target_ < patient_.systolic + kReinflateMargin && target_ < Cuff::kMaxPressure &&
          reinflations_ < kMaxReinflations) {
        ++reinflations_;
        target_ = std::min<double>(patient_.systolic + kReinflateAbove, Cuff::kMaxPressure);
        Event(Format("pulses at the top: re-inflating to %.0f mmHg", target_));
        return;
      }
      if (target_ <= patient_.systolic) {
        pendingErr_ = kErrOutOfRange;
        phase_ = Phase::kDumping;
        cuff_.Set({});
        Event("systolic above what the cuff can reach: dumping");
        return;
      }
      phase_ = Phase::kDeflating;
      cuff_.Set({false, true, true});
      hold_ = hold;
      Event(Format("deflating in steps of %.0f mmHg from %.0f mmHg", StepSize(mode_), p));
      return;
    case Phase::kDeflating:
      if (bleeding_) {
        if (p > stepFrom_ - StepSize(mode_)) return;
        bleeding_ = false;
        hold_ = hold;
        cuff_.Set({false, true, true});
        return;
      }
      if (p >= patient_.diastolic - kEnvelope && p <= patient_.systolic + kEnvelope)
        pulses_ += dt * patient_.heartRate / 60.0;
      hold_ -= dt;
      if (hold_ > 0) return;
      if (p < patient_.diastolic - kEnvelope || p < kDeflateFloor) {
        phase_ = Phase::kDumping;
        cuff_.Set({});
        Event(Format("dumping from %.0f mmHg after %d steps", p, steps_));
        return;
      }
      bleeding_ = true;
      stepFrom_ = p;
      ++steps_;
      cuff_.Set({false, false, true});
      return;
    case Phase::kDumping:
      if (p < kEndPressure) Finish();
      return;
    case Phase::kIdle:
      return;
  }
}

// Fills the result of the measurement that has just ended, well or not.
void Module::End(uint8_t err) {
  Result r;
  const int pulses = static_cast<int>(std::lround(pulses_));
  r.err = err;
  r.status = ModeBits(mode_);
  if (reinflations_ > 0) r.status |= kStatusReinflated;
  if (err == kErrNone) {
    r.status |= kStatusValid;
    r.systolic = Clamp16(patient_.systolic);
    r.diastolic = Clamp16(patient_.diastolic);
    r.heartRate = Clamp16(patient_.heartRate);
    r.map = Clamp16(MeanArterialPressure(patient_.systolic, patient_.diastolic));
    r.sq = static_cast<uint8_t>(std::min(100, 30 + 4 * pulses));
  } else {
    r.status |= kStatusUnfinished;
  }
  const uint16_t tenths = Clamp16(elapsed_ * 10);
  const uint16_t peak = Clamp16(peak_);
  r.tc = {static_cast<uint8_t>(tenths & 0xFF),         static_cast<uint8_t>(tenths >> 8),
          static_cast<uint8_t>(peak & 0xFF),           static_cast<uint8_t>(peak >> 8),
          static_cast<uint8_t>(std::min(steps_, 255)), static_cast<uint8_t>(std::min(pulses, 255)),
          static_cast<uint8_t>(reinflations_),         counter_};
  result_ = r;
  phase_ = Phase::kIdle;
  if (err == kErrNone) {
    Event(Format("result: %d / %d mmHg, heart rate %d, MAP %d, SQ %d after %.1f s", r.systolic,
                 r.diastolic, r.heartRate, r.map, r.sq, elapsed_));
  } else {
    Event(Format("measurement ended without a result: Err %d after %.1f s", err, elapsed_));
  }
}

void Module::Finish() {
  cuff_.Set({});
  End(pendingErr_);
}

}  // namespace sim
