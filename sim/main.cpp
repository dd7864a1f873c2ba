// nibp-sim: plays the blood-pressure module on a pseudo-terminal linked as a console port.

#include <getopt.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <system_error>

#include "program/program_info.h"
#include "protocol/frames.h"
#include "sim/fault_options.h"
#include "sim/faults.h"
#include "sim/gauge.h"
#include "sim/model.h"
#include "sim/pty.h"
#include "sim/replay.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxQueued = 4096;  // chunks waiting for the line
// A burst is queued this many frames at a time, so that it never fills the queue for replies.
constexpr size_t kBurstBatch = 64;
constexpr auto kFineStep = std::chrono::milliseconds(10);
constexpr auto kIdleWait = std::chrono::milliseconds(500);
// A stream late by up to this much catches up, so that a busy machine does not lower its rate;
// later than that (the line was full, the program stopped), it starts again from now.
constexpr auto kStreamCatchUp = std::chrono::milliseconds(100);
// While a console has the line exclusively: how soon a killed one's mark is cleared.
constexpr auto kExclusiveCheck = std::chrono::milliseconds(100);

constexpr const char kUsage[] =
    "Usage: nibp-sim [OPTION]...\n"
    "Plays the blood-pressure module on a pseudo-terminal linked as\n"
    "$XDG_CONFIG_HOME/quirab_nibp/ports/COMn.\n"
    "\n"
    "  --port COMn           port name (COM1)\n"
    "  --force               replace a link of COMn to something that is not a\n"
    "                        pseudo-terminal, and put it back at the end\n"
    "  --systolic N          the patient's systolic pressure, mmHg (120)\n"
    "  --diastolic N         diastolic pressure, mmHg (80)\n"
    "  --heart-rate N        heart rate, beats per minute (72)\n"
    "  --speed X             module time runs X times faster (1)\n"
    "  --fragment            split replies into fragments with short pauses\n"
    "  --noise RATE          chance per reply of noise bytes before it (0..1)\n"
    "  --corrupt RATE        chance per reply of a wrong checksum (0..1)\n"
    "  --stream HZ           send the cuff pressure HZ times a second unasked\n"
    "  --burst N             after the console's first command, send N cuff pressure\n"
    "                        frames as fast as the line takes them\n"
    "  --numbered            stream and burst frames count 0, 1, 2... instead of\n"
    "                        reporting the cuff pressure\n"
    "  --hangup-after SECS   close the line after SECS and exit\n"
    "  --reopen              with --hangup-after: open a new line instead of exiting\n"
    "  --hangup-every SECS   close the line every SECS and open a new one each time\n"
    "  --seed N              seed of the fault injection\n"
    "  --leak R              with the valves closed the cuff loses R mmHg a minute at\n"
    "                        250 mmHg, in proportion to the pressure (0)\n"
    "  --sensor-offset MMHG  the module reports the true pressure plus MMHG (0)\n"
    "  --sensor-gain G       ...times G (1)\n"
    "  --overpressure N      the module dumps the cuff by itself above N mmHg (310);\n"
    "                        0: no such protection, the pump stalls at 360 mmHg\n"
    "  --gauge COMn          play a reference gauge on a second line linked as COMn:\n"
    "                        the true cuff pressure as \"123.4 mmHg\" lines, four a second\n"
    "  --log-sent FILE       append every good frame sent, in hex, one per line\n"
    "  --log-sent-times FILE the same, each line led by CLOCK_MONOTONIC nanoseconds\n"
    "  --replay FILE         play what the module sent in a session file or a saved\n"
    "                        raw log, from the console's first command on\n"
    "  --loop                with --replay: play it again and again\n"
    "  --quiet               print nothing but errors\n"
    "  --help                display this help and exit\n"
    "  --version             output version information and exit\n"
    "\n"
    "Exit status: 0 when stopped by a signal or after --hangup-after, 1 when the line\n"
    "fails, 2 for a usage error or a port that is mapped to something else.\n";

struct Options {
  std::string port = "COM1";
  sim::Patient patient;
  double speed = 1;
  sim::FaultOptions faults;
  double streamHz = 0;
  uint64_t burst = 0;
  bool numbered = false;
  double hangupAfter = 0;
  bool reopen = false;
  bool hangupAgain = false;
  uint64_t seed = 0;
  bool seedGiven = false;
  std::string logSent;
  std::string logSentTimes;
  std::string replay;
  bool loop = false;
  bool force = false;
  bool quiet = false;
  sim::CheckFaults checks;
};

bool ParseDouble(const char* text, double lo, double hi, double& out) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !std::isfinite(v) || v < lo || v > hi)
    return false;
  out = v;
  return true;
}

template <typename T>
bool ParseInt(const char* text, T lo, T hi, T& out) {
  T v{};
  const char* end = text + std::strlen(text);
  const auto [ptr, ec] = std::from_chars(text, end, v);
  if (ec != std::errc() || ptr != end || v < lo || v > hi) return false;
  out = v;
  return true;
}

bool ValidPort(const std::string& name) {
  int n = 0;
  return name.size() > 3 && name.compare(0, 3, "COM") == 0 &&
         ParseInt(name.c_str() + 3, 1, 255, n) && name[3] != '0';
}

// Returns the options, or nothing after printing why not (or the usage) with `exitCode` set.
std::optional<Options> ParseOptions(int argc, char** argv, int& exitCode) {
  exitCode = 2;
  enum {
    kPort = 256,
    kSystolic,
    kDiastolic,
    kHeartRate,
    kSpeed,
    kFragment,
    kNoise,
    kCorrupt,
    kStream,
    kBurst,
    kNumbered,
    kHangup,
    kHangupEvery,
    kReopen,
    kSeed,
    kLogSent,
    kLogSentTimes,
    kQuiet,
    kReplay,
    kLoop,
    kForce,
    kHelp,
    kVersion
  };
  static const option kLong[] = {{"port", required_argument, nullptr, kPort},
                                 {"systolic", required_argument, nullptr, kSystolic},
                                 {"diastolic", required_argument, nullptr, kDiastolic},
                                 {"heart-rate", required_argument, nullptr, kHeartRate},
                                 {"speed", required_argument, nullptr, kSpeed},
                                 {"fragment", no_argument, nullptr, kFragment},
                                 {"noise", required_argument, nullptr, kNoise},
                                 {"corrupt", required_argument, nullptr, kCorrupt},
                                 {"stream", required_argument, nullptr, kStream},
                                 {"burst", required_argument, nullptr, kBurst},
                                 {"numbered", no_argument, nullptr, kNumbered},
                                 {"hangup-after", required_argument, nullptr, kHangup},
                                 {"reopen", no_argument, nullptr, kReopen},
                                 {"hangup-every", required_argument, nullptr, kHangupEvery},
                                 {"seed", required_argument, nullptr, kSeed},
                                 {"log-sent", required_argument, nullptr, kLogSent},
                                 {"log-sent-times", required_argument, nullptr, kLogSentTimes},
                                 {"quiet", no_argument, nullptr, kQuiet},
                                 {"replay", required_argument, nullptr, kReplay},
                                 {"loop", no_argument, nullptr, kLoop},
                                 {"force", no_argument, nullptr, kForce},
                                 {"help", no_argument, nullptr, kHelp},
                                 {"version", no_argument, nullptr, kVersion},
                                 {nullptr, 0, nullptr, 0}};
  Options o;
  auto bad = [](const char* what, const char* text) {
    std::fprintf(stderr, "nibp-sim: bad %s: %s (see --help)\n", what, text);
    return std::nullopt;
  };
  int c;
  while ((c = getopt_long(argc, argv, "", kLong, nullptr)) != -1) {
    const char* a = optarg;
    switch (c) {
      case kPort:
        if (!ValidPort(a)) return bad("port (COM1 to COM255)", a);
        o.port = a;
        break;
      case kSystolic:
        if (!ParseInt(a, 1, 400, o.patient.systolic)) return bad("systolic (1..400)", a);
        break;
      case kDiastolic:
        if (!ParseInt(a, 1, 400, o.patient.diastolic)) return bad("diastolic (1..400)", a);
        break;
      case kHeartRate:
        if (!ParseInt(a, 20, 300, o.patient.heartRate)) return bad("heart rate (20..300)", a);
        break;
      case kSpeed:
        if (!ParseDouble(a, 0.01, 10000, o.speed)) return bad("speed (0.01..10000)", a);
        break;
      case kFragment:
        o.faults.fragment = true;
        break;
      case kNoise:
        if (!ParseDouble(a, 0, 1, o.faults.noise)) return bad("noise rate (0..1)", a);
        break;
      case kCorrupt:
        if (!ParseDouble(a, 0, 1, o.faults.corrupt)) return bad("corrupt rate (0..1)", a);
        break;
      case kStream:
        if (!ParseDouble(a, 0, 1000, o.streamHz)) return bad("stream rate (0..1000 Hz)", a);
        break;
      case kBurst:
        if (!ParseInt<uint64_t>(a, 1, 100'000'000, o.burst)) return bad("burst (1..100000000)", a);
        break;
      case kNumbered:
        o.numbered = true;
        break;
      case kHangup:
        if (!ParseDouble(a, 0.001, 1e6, o.hangupAfter)) return bad("hang-up time", a);
        break;
      case kHangupEvery:
        if (!ParseDouble(a, 0.001, 1e6, o.hangupAfter)) return bad("hang-up period", a);
        o.reopen = o.hangupAgain = true;
        break;
      case kReopen:
        o.reopen = true;
        break;
      case kSeed:
        if (!ParseInt<uint64_t>(a, 0, UINT64_MAX, o.seed)) return bad("seed", a);
        o.seedGiven = true;
        break;
      case kLogSent:
        o.logSent = a;
        break;
      case kLogSentTimes:
        o.logSentTimes = a;
        break;
      case kQuiet:
        o.quiet = true;
        break;
      case kReplay:
        o.replay = a;
        break;
      case kLoop:
        o.loop = true;
        break;
      case kForce:
        o.force = true;
        break;
      case kHelp:
        exitCode = program::PrintInfo(program::InfoRequest::kHelp, "nibp-sim", kUsage);
        return std::nullopt;
      case kVersion:
        exitCode = program::PrintInfo(program::InfoRequest::kVersion, "nibp-sim", kUsage);
        return std::nullopt;
      default:
        std::fputs(kUsage, stderr);
        return std::nullopt;
    }
  }
  if (optind < argc) return bad("argument", argv[optind]);
  if (o.patient.diastolic >= o.patient.systolic) {
    std::fprintf(stderr, "nibp-sim: the diastolic pressure must lie below the systolic\n");
    return std::nullopt;
  }
  if (o.reopen && o.hangupAfter == 0) {
    std::fprintf(stderr, "nibp-sim: --reopen needs --hangup-after\n");
    return std::nullopt;
  }
  if (o.loop && o.replay.empty()) {
    std::fprintf(stderr, "nibp-sim: --loop needs --replay\n");
    return std::nullopt;
  }
  if (!o.replay.empty() && (o.streamHz > 0 || o.burst > 0 || o.faults.fragment ||
                            o.faults.noise > 0 || o.faults.corrupt > 0)) {
    std::fprintf(stderr,
                 "nibp-sim: --replay plays the file as it is: no --stream, --burst, --fragment, "
                 "--noise or --corrupt\n");
    return std::nullopt;
  }
  return o;
}

std::string Hex(std::span<const uint8_t> bytes) {
  std::string s;
  protocol::AppendHexSpaced(s, bytes);
  if (!s.empty()) s.pop_back();
  return s;
}

Clock::duration Seconds(double s) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

class Simulator {
 public:
  Simulator(const Options& o, std::vector<sim::ReplayFrame> replay)
      : opts_(o),
        module_(o.patient),
        shaper_(o.faults, o.seed),
        link_(sim::PortsDirectory() / o.port),
        replay_(std::move(replay)) {
    module_.SetFaults(o.checks.cuff);
  }

  // Throws std::system_error when the line cannot be made or kept; returns the exit code.
  int Run();

 private:
  void Say(const std::string& line) const {
    if (opts_.quiet) return;
    std::printf("nibp-sim: %s\n", line.c_str());
    std::fflush(stdout);
  }
  void OpenLine();
  void ForgetOutput();
  void Enqueue(const sim::Reply& reply, Clock::time_point now);
  // A stream or burst frame: the cuff pressure, or the next count with --numbered.
  [[nodiscard]] sim::Reply Unasked();
  void StreamDue(Clock::time_point now);
  void Push(sim::Chunk c, Clock::time_point now);
  void Received(const std::vector<uint8_t>& data, Clock::time_point now);
  void PlayDue(Clock::time_point now);
  [[nodiscard]] Clock::time_point ReplayDue() const;
  void WriteDue(Clock::time_point now);
  void Sent(const sim::Chunk& c);

  Options opts_;
  sim::SignalFd signals_;  // first: signals stay blocked until everything else is gone
  sim::Module module_;
  sim::Shaper shaper_;
  sim::Pty pty_;
  sim::PortLink link_;
  std::ofstream sentLog_;
  std::ofstream sentTimesLog_;  // the soak tells frames sent while the port was open

  std::deque<sim::Chunk> out_;
  size_t headWritten_ = 0;  // bytes of out_.front() already on the line
  Clock::time_point headDue_;
  bool blocked_ = false;  // the line is full: wait until it takes more
  bool dropping_ = false;
  bool attached_ = false;  // a console has sent a command since the line was last purged
  Clock::time_point nextStream_;
  uint64_t burstLeft_ = 0;  // set at the first command
  bool burstStarted_ = false;
  uint16_t count_ = 0;  // the next --numbered frame
  Clock::time_point exclusiveCheck_;

  std::optional<sim::Gauge> gauge_;
  std::vector<sim::ReplayFrame> replay_;  // empty: the module answers
  bool replaying_ = false;
  size_t replayNext_ = 0;
  Clock::time_point replayStart_;  // when the frame at offset 0 is due
};

void Simulator::OpenLine() {
  pty_ = sim::Pty::Open();
  link_.Point(pty_.slavePath());
  Say(opts_.port + " -> " + pty_.slavePath());
}

void Simulator::ForgetOutput() {
  out_.clear();
  headWritten_ = 0;
  blocked_ = false;
}

void Simulator::Enqueue(const sim::Reply& reply, Clock::time_point now) {
  if (out_.size() >= kMaxQueued) {
    if (!dropping_) Say("line full: dropping replies until it drains");
    dropping_ = true;
    return;
  }
  dropping_ = false;
  for (sim::Chunk& c : shaper_.Shape(reply)) Push(std::move(c), now);
}

void Simulator::Push(sim::Chunk c, Clock::time_point now) {
  if (out_.empty()) headDue_ = now + Seconds(c.pause);
  out_.push_back(std::move(c));
}

sim::Reply Simulator::Unasked() {
  if (!opts_.numbered) return module_.PressureReport();
  const uint16_t n = count_++;
  return {sim::PressureReply(n), "count " + std::to_string(n)};
}

void Simulator::StreamDue(Clock::time_point now) {
  if (!attached_) {
    nextStream_ = now;
    return;
  }
  if (opts_.streamHz > 0 && now >= nextStream_) {
    const auto period = Seconds(1.0 / opts_.streamHz);
    if (now - nextStream_ > kStreamCatchUp) nextStream_ = now;
    for (; nextStream_ <= now; nextStream_ += period) Enqueue(Unasked(), now);
  }
  if (opts_.burst > 0 && !burstStarted_) {
    burstStarted_ = true;
    burstLeft_ = opts_.burst;
  }
  for (; burstLeft_ > 0 && out_.size() < kBurstBatch; --burstLeft_) Enqueue(Unasked(), now);
}

void Simulator::Received(const std::vector<uint8_t>& data, Clock::time_point now) {
  if (replay_.empty()) {
    attached_ = true;
    module_.Receive(data);
    return;
  }
  // Replayed, the console's commands change nothing: the first one starts the playback.
  Say("received " + Hex(data));
  if (attached_) return;
  attached_ = true;
  replaying_ = true;
  replayNext_ = 0;
  replayStart_ = now;
  Say("replay: " + std::to_string(replay_.size()) + " frames");
}

Clock::time_point Simulator::ReplayDue() const {
  return replayStart_ +
         Seconds(static_cast<double>(replay_[replayNext_].ms) / 1000.0 / opts_.speed);
}

void Simulator::PlayDue(Clock::time_point now) {
  while (replaying_ && ReplayDue() <= now) {
    const sim::ReplayFrame& f = replay_[replayNext_];
    if (out_.size() >= kMaxQueued) {
      if (!dropping_) Say("line full: dropping replayed frames until it drains");
      dropping_ = true;
    } else {
      dropping_ = false;
      // Due at its own time, not after the one before it reached the line.
      Push(sim::Chunk{.bytes = f.bytes,
                      .pause = 0,
                      .noise = false,
                      .endsFrame = true,
                      .good = f.good,
                      .frame = f.bytes,
                      .what = f.good ? "replayed" : "replayed as recorded"},
           std::min(now, ReplayDue()));
    }
    if (++replayNext_ < replay_.size()) continue;
    replayNext_ = 0;
    if (!opts_.loop) {
      replaying_ = false;
      Say("replay finished");
      break;
    }
    // The next round after one more mean gap, so that a round never takes no time at all.
    const int64_t length = replay_.back().ms;
    const int64_t gap =
        replay_.size() > 1 && length > 0 ? length / static_cast<int64_t>(replay_.size() - 1) : 1000;
    replayStart_ += Seconds(static_cast<double>(length + gap) / 1000.0 / opts_.speed);
  }
}

void Simulator::Sent(const sim::Chunk& c) {
  if (c.noise) Say("sent noise " + Hex(c.bytes));
  if (!c.endsFrame) return;
  Say("sent " + Hex(c.frame) + " (" + c.what + ")");
  if (c.good && sentLog_.is_open()) sentLog_ << Hex(c.frame) << '\n' << std::flush;
  if (c.good && sentTimesLog_.is_open()) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    sentTimesLog_ << (static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec) << ' '
                  << Hex(c.frame) << '\n'
                  << std::flush;
  }
}

void Simulator::WriteDue(Clock::time_point now) {
  while (!out_.empty()) {
    sim::Chunk& c = out_.front();
    if (headWritten_ == 0 && now < headDue_) return;
    const long n = pty_.Write(std::span(c.bytes).subspan(headWritten_));
    if (n < 0) throw std::system_error(errno, std::generic_category(), "writing the line");
    headWritten_ += static_cast<size_t>(n);
    blocked_ = headWritten_ < c.bytes.size();
    if (blocked_) return;
    Sent(c);
    out_.pop_front();
    headWritten_ = 0;
    if (!out_.empty()) headDue_ = now + Seconds(out_.front().pause);
  }
}

int Simulator::Run() {
  // A user's own mapping (a device, a file) is not ours to take without being told.
  const sim::PortEntry entry = sim::InspectPortEntry(link_.path());
  if (entry.kind == sim::PortEntry::kNotALink) {
    std::fprintf(stderr, "nibp-sim: %s is %s, not a link: left alone\n", opts_.port.c_str(),
                 link_.path().c_str());
    return 2;
  }
  if (entry.kind == sim::PortEntry::kOther) {
    if (!opts_.force) {
      std::fprintf(stderr,
                   "nibp-sim: %s is mapped to %s, which is not a pseudo-terminal: left alone "
                   "(--force takes it until nibp-sim ends)\n",
                   opts_.port.c_str(), entry.target.c_str());
      return 2;
    }
    link_.RestoreAtEnd(entry.target);
    Say(opts_.port + " was mapped to " + entry.target + ": put back at the end");
  }
  // A link to an adapter that is unplugged now is still the user's mapping: taken, and put back.
  if (entry.kind == sim::PortEntry::kDangling && !entry.target.starts_with("/dev/pts/")) {
    link_.RestoreAtEnd(entry.target);
    Say(opts_.port + " was mapped to " + entry.target + ", which is missing: put back at the end");
  }
  if (!opts_.logSent.empty()) {
    sentLog_.open(opts_.logSent, std::ios::app);
    if (!sentLog_) {
      std::fprintf(stderr, "nibp-sim: cannot open %s\n", opts_.logSent.c_str());
      return 1;
    }
  }
  if (!opts_.logSentTimes.empty()) {
    sentTimesLog_.open(opts_.logSentTimes, std::ios::app);
    if (!sentTimesLog_) {
      std::fprintf(stderr, "nibp-sim: cannot open %s\n", opts_.logSentTimes.c_str());
      return 1;
    }
  }
  OpenLine();
  if (!opts_.checks.gaugePort.empty()) {
    if (const std::string e = gauge_.emplace(opts_.checks.gaugePort).Open(); !e.empty()) {
      std::fprintf(stderr, "nibp-sim: %s\n", e.c_str());
      return 2;
    }
    Say(opts_.checks.gaugePort + " -> " + gauge_->slavePath() + " (reference gauge)");
  }
  char settings[160];
  std::snprintf(settings, sizeof settings,
                "patient %d / %d mmHg, heart rate %d; speed %g; seed %llu", opts_.patient.systolic,
                opts_.patient.diastolic, opts_.patient.heartRate, opts_.speed,
                static_cast<unsigned long long>(opts_.seed));
  Say(settings);

  Clock::time_point last = Clock::now();
  nextStream_ = last;
  Clock::time_point hangupAt = Clock::time_point::max();  // never
  if (opts_.hangupAfter > 0) hangupAt = last + Seconds(opts_.hangupAfter);

  while (true) {
    Clock::time_point now = Clock::now();
    Clock::time_point wake = now + (module_.Busy() ? kFineStep : kIdleWait);
    if (opts_.streamHz > 0 && attached_) wake = std::min(wake, nextStream_);
    if (burstLeft_ > 0 && !blocked_) wake = now;
    if (!out_.empty() && !blocked_ && headWritten_ == 0) wake = std::min(wake, headDue_);
    if (replaying_) wake = std::min(wake, ReplayDue());
    if (exclusiveCheck_ != Clock::time_point{}) wake = std::min(wake, exclusiveCheck_);
    if (gauge_) wake = std::min(wake, gauge_->Due());
    wake = std::min(wake, hangupAt);
    const auto waitMs =
        std::chrono::ceil<std::chrono::milliseconds>(std::max(wake - now, Clock::duration{}));

    pollfd fds[2] = {
        {pty_.master(), static_cast<short>(POLLIN | POLLPRI | (blocked_ ? POLLOUT : 0)), 0},
        {signals_.get(), POLLIN, 0}};
    if (::poll(fds, 2, static_cast<int>(waitMs.count())) < 0 && errno != EINTR)
      throw std::system_error(errno, std::generic_category(), "poll");
    if (fds[1].revents & POLLIN) {
      if (const int s = signals_.Take(); s != 0) {
        Say(std::string("stopped by SIG") + sigabbrev_np(s) +
            (link_.restores() ? ": putting back " : ": removing ") + link_.path().string());
        return 0;
      }
    }

    now = Clock::now();
    module_.Advance(std::chrono::duration<double>(now - last).count() * opts_.speed);
    last = now;
    if (gauge_) gauge_->Tick(now, module_.cuff().pressure());

    if (fds[0].revents & (POLLIN | POLLPRI)) {
      for (sim::MasterInput in = pty_.Read(); !in.empty(); in = pty_.Read()) {
        if (in.closed) throw std::system_error(EIO, std::generic_category(), "reading the line");
        if (in.flushed) {
          if (attached_ || !out_.empty()) Say("the console purged the line");
          attached_ = false;
          replaying_ = false;
          burstLeft_ = 0;
          ForgetOutput();
          module_.LineFlushed();
        }
        if (!in.data.empty()) Received(in.data, now);
      }
    }
    for (const std::string& e : module_.TakeEvents()) Say(e);
    for (const sim::Reply& r : module_.TakeReplies()) Enqueue(r, now);

    StreamDue(now);
    PlayDue(now);
    WriteDue(now);

    switch (pty_.ReleaseAbandoned()) {
      case sim::Pty::Exclusive::kNo:
        exclusiveCheck_ = {};
        break;
      case sim::Pty::Exclusive::kHeld:
        exclusiveCheck_ = now + kExclusiveCheck;
        break;
      case sim::Pty::Exclusive::kReleased:
        exclusiveCheck_ = {};
        Say("the console that had the line is gone: exclusive mode cleared");
        break;
    }

    if (now >= hangupAt) {
      Say("hang-up: closing " + pty_.slavePath());
      pty_.HangUp();
      ForgetOutput();
      attached_ = false;
      replaying_ = false;
      burstLeft_ = 0;
      module_.LineFlushed();
      if (!opts_.reopen) {
        link_.Remove();
        return 0;
      }
      hangupAt = opts_.hangupAgain ? now + Seconds(opts_.hangupAfter) : Clock::time_point::max();
      OpenLine();
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  int exitCode = 0;
  sim::CheckFaults checkFaults;
  if (!sim::TakeCheckFaultOptions(argc, argv, checkFaults)) return 2;
  std::optional<Options> opts = ParseOptions(argc, argv, exitCode);
  if (!opts) return exitCode;
  opts->checks = checkFaults;
  if (checkFaults.gaugePort == opts->port) {
    std::fprintf(stderr, "nibp-sim: the gauge needs a port of its own, not %s\n",
                 opts->port.c_str());
    return 2;
  }
  if (!opts->seedGiven) opts->seed = std::random_device{}();
  // A reader of our output that goes away must not end us before the link is removed.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<sim::ReplayFrame> replay;
  if (!opts->replay.empty()) {
    std::ifstream in(opts->replay);
    if (!in) {
      std::fprintf(stderr, "nibp-sim: cannot read %s: %s\n", opts->replay.c_str(),
                   std::strerror(errno));
      return 1;
    }
    replay = sim::ReadReplay(in);
    if (replay.empty()) {
      std::fprintf(stderr, "nibp-sim: %s holds no frame received from the module\n",
                   opts->replay.c_str());
      return 1;
    }
  }
  try {
    Simulator sim(*opts, std::move(replay));
    return sim.Run();
  } catch (const std::system_error& e) {
    std::fprintf(stderr, "nibp-sim: %s\n", e.what());
    return 1;
  }
}
