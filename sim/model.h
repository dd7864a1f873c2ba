#pragma once
// The simulated module as plain logic: command bytes and time steps in, reply frames and event
// lines out. No I/O and no clock of its own: time is whatever the caller advances it by, so one
// measurement can run in a test as fast as the processor allows.
//
// This is the project's own simulation; the codes below are its own inventions:
//   Status  bit 7 set when the result is a measurement; bits 0-1 the mode (0 adult, 1 neonate,
//           2 pediatric); bit 4 the cuff was re-inflated; bit 5 the measurement did not finish.
//   Err     0 none, 1 ended by Abort BP, 2 systolic above what the cuff can reach,
//           3 ended by a Pneumatics command.
//   SQ      signal quality 0..100 from the number of pulses seen; 0 without a result.
//   TC      duration in 0.1 s (2 bytes), highest cuff pressure in mmHg (2 bytes), deflation
//           steps, pulses seen, re-inflations, measurement counter (wraps at 256).
//   Replies 'K' accepted, 'E' bad checksum, 'B' a start while a measurement runs (ignored),
//           '?' an unknown request code with a good checksum.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kCmdSetPressure = 0x17;
inline constexpr uint8_t kCmdStartAdult = 0x20;
inline constexpr uint8_t kCmdStartNeonate = 0x28;
inline constexpr uint8_t kCmdStartPediatric = 0x87;
inline constexpr uint8_t kCmdRequest = 0x79;  // Abort BP, Get Pressure, Get BP Data by parameter
inline constexpr uint8_t kCmdPneumatics = 0x0C;

inline constexpr uint8_t kRequestAbort = 0x01;
inline constexpr uint8_t kRequestBpData = 0x03;
inline constexpr uint8_t kRequestPressure = 0x05;

inline constexpr char kReplyAccepted = 'K';
inline constexpr char kReplyBadChecksum = 'E';
inline constexpr char kReplyBusy = 'B';
inline constexpr char kReplyUnknown = '?';

inline constexpr uint8_t kErrNone = 0;
inline constexpr uint8_t kErrAborted = 1;
inline constexpr uint8_t kErrOutOfRange = 2;
inline constexpr uint8_t kErrInterrupted = 3;

inline constexpr uint8_t kStatusValid = 0x80;
inline constexpr uint8_t kStatusReinflated = 0x10;
inline constexpr uint8_t kStatusUnfinished = 0x20;

// Frame length by command code, start byte and checksum included; 0 for an unknown code.
[[nodiscard]] size_t CommandLength(uint8_t code);

// A command frame taken from the byte stream; `checksumOk` false when its bytes do not sum to 0.
struct Command {
  Bytes bytes;
  bool checksumOk = false;
};

// Splits the console's byte stream into command frames. Bytes before a start byte and a start
// byte followed by an unknown code are skipped; after a frame with a bad checksum the search
// starts again at the byte after its start byte, so that a frame hidden behind a stray start
// byte is still found.
class CommandParser {
 public:
  [[nodiscard]] std::vector<Command> Feed(std::span<const uint8_t> bytes);
  [[nodiscard]] size_t Pending() const { return pending_.size(); }
  void Reset() { pending_.clear(); }

 private:
  Bytes pending_;
};

// Reply frames: 0x3E, the whole frame's length, the payload, the checksum.
[[nodiscard]] Bytes MakeReply(std::span<const uint8_t> payload);
[[nodiscard]] Bytes CharReply(char c);
[[nodiscard]] Bytes PressureReply(uint16_t mmHg);

struct Patient {
  int systolic = 120;
  int diastolic = 80;
  int heartRate = 72;
};

// MAP as the module reports it: dia + (sys - dia) / 3, rounded.
[[nodiscard]] int MeanArterialPressure(int systolic, int diastolic);

struct Result {
  uint16_t systolic = 0;
  uint16_t diastolic = 0;
  uint8_t sq = 0;
  uint8_t status = 0;
  std::array<uint8_t, 8> tc{};
  uint16_t heartRate = 0;
  uint16_t map = 0;
  uint8_t err = 0;
};
[[nodiscard]] Bytes BpDataReply(const Result& r);  // 22 bytes

struct Pneumatics {
  bool pump = false;
  bool controlClosed = false;
  bool dumpClosed = false;
  bool operator==(const Pneumatics&) const = default;
};

// The faults nibp-sim's options give the cuff and the module.
struct CuffFaults {
  double leakMmHgMin = 0;   // lost per minute at 250 mmHg, in proportion to the pressure
  double sensorOffset = 0;  // the module reports true x gain + offset
  double sensorGain = 1;
  int overpressure = 310;  // the module dumps the cuff by itself above this; 0: never
};

// Cuff pressure from the pump and the two valves. The pump adds a constant flow that stalls at
// 360 mmHg; the open control valve bleeds a share of the pressure per second, the open dump
// valve a much larger one; a hole leaks in proportion to the pressure.
class Cuff {
 public:
  static constexpr double kMaxPressure = 300.0;  // the highest inflate target of a measurement
  static constexpr double kStallPressure = 360.0;
  static constexpr double kPumpRate = 20.0;  // mmHg/s with both valves closed
  static constexpr double kBleedRate = 0.2;  // share of the pressure per second, control valve
  static constexpr double kDumpRate = 3.0;   // share per second, dump valve: 300 -> 1 in ~2 s
  static constexpr double kMaxStep = 0.005;  // s; longer steps are split

  void Set(Pneumatics p) { valves_ = p; }
  void SetFaults(const CuffFaults& f) { faults_ = f; }
  [[nodiscard]] Pneumatics valves() const { return valves_; }
  void Advance(double seconds);
  [[nodiscard]] double pressure() const { return pressure_; }
  [[nodiscard]] uint16_t Reading() const;  // whole mmHg, as the module's sensor reads it

 private:
  Pneumatics valves_;
  CuffFaults faults_;
  double pressure_ = 0.0;
};

enum class Phase { kIdle, kInflating, kDeflating, kDumping };

struct Reply {
  Bytes frame;
  std::string what;  // for the program's log
};

class Module {
 public:
  static constexpr int kDefaultInflate = 160;
  static constexpr double kEndPressure = 2.0;  // a dump ends below this

  explicit Module(Patient patient = {});
  void SetFaults(const CuffFaults& f) {
    cuff_.SetFaults(f);
    overpressure_ = f.overpressure;
  }

  // Bytes from the console; replies and event lines are queued.
  void Receive(std::span<const uint8_t> bytes);
  // Runs the cuff and the measurement for `seconds` of module time.
  void Advance(double seconds);

  [[nodiscard]] std::vector<Reply> TakeReplies();
  [[nodiscard]] std::vector<std::string> TakeEvents();

  [[nodiscard]] Phase phase() const { return phase_; }
  [[nodiscard]] const Cuff& cuff() const { return cuff_; }
  [[nodiscard]] const Result& lastResult() const { return result_; }
  [[nodiscard]] int inflateTarget() const { return setPressure_; }
  // True while the cuff holds pressure or anything moves: the caller then steps time finely.
  [[nodiscard]] bool Busy() const;
  // An unsolicited cuff pressure report.
  [[nodiscard]] Reply PressureReport() const;
  // The console purged the line: a half-received command belongs to a session that is gone.
  void LineFlushed() { parser_.Reset(); }

 private:
  void Handle(const Command& cmd);
  void Start(uint8_t mode);
  void End(uint8_t err);
  void Step(double dt);
  void Finish();
  void Event(std::string line);
  void Answer(Bytes frame, std::string what);

  Patient patient_;
  CommandParser parser_;
  Cuff cuff_;
  int overpressure_ = CuffFaults{}.overpressure;
  int setPressure_ = kDefaultInflate;
  Result result_;
  std::vector<Reply> replies_;
  std::vector<std::string> events_;

  // The running measurement.
  Phase phase_ = Phase::kIdle;
  uint8_t mode_ = 0;
  double target_ = 0;
  double elapsed_ = 0;
  double peak_ = 0;
  double hold_ = 0;      // time left holding the current step
  double stepFrom_ = 0;  // pressure the current bleed started at
  bool bleeding_ = false;
  int steps_ = 0;
  double pulses_ = 0;
  int reinflations_ = 0;
  uint8_t counter_ = 0;
  uint8_t pendingErr_ = kErrNone;
};

}  // namespace sim
