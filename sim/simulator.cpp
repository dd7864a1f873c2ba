#include "sim/simulator.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <system_error>

#include "protocol/frames.h"

namespace sim {
namespace {

using Clock = Simulator::Clock;

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

std::string Hex(std::span<const uint8_t> bytes) {
  std::string s;
  protocol::AppendHexSpaced(s, bytes);
  if (!s.empty()) s.pop_back();
  return s;
}

Clock::duration Seconds(double s) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

}  // namespace

Simulator::Simulator(const Options& o, std::vector<ReplayFrame> replay, std::filesystem::path link)
    : opts_(o),
      module_(o.patient),
      shaper_(o.faults, o.seed),
      link_(std::move(link)),
      replay_(std::move(replay)) {
  module_.SetFaults(o.checks.cuff);
}

void Simulator::Say(const std::string& line) const {
  if (opts_.quiet) return;
  std::printf("nibp-sim: %s\n", line.c_str());
  std::fflush(stdout);
}

void Simulator::OpenLine() {
  pty_ = Pty::Open();
  link_.Point(pty_.slavePath());
  Say(opts_.port + " -> " + pty_.slavePath());
}

void Simulator::ForgetOutput() {
  out_.clear();
  headWritten_ = 0;
  blocked_ = false;
}

void Simulator::Enqueue(const Reply& reply, Clock::time_point now) {
  if (out_.size() >= kMaxQueued) {
    if (!dropping_) Say("line full: dropping replies until it drains");
    dropping_ = true;
    return;
  }
  dropping_ = false;
  for (Chunk& c : shaper_.Shape(reply)) Push(std::move(c), now);
}

void Simulator::Push(Chunk c, Clock::time_point now) {
  if (out_.empty()) headDue_ = now + Seconds(c.pause);
  out_.push_back(std::move(c));
}

Reply Simulator::Unasked() {
  if (!opts_.numbered) return module_.PressureReport();
  const uint16_t n = count_++;
  return {PressureReply(n), "count " + std::to_string(n)};
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
    const ReplayFrame& f = replay_[replayNext_];
    if (out_.size() >= kMaxQueued) {
      if (!dropping_) Say("line full: dropping replayed frames until it drains");
      dropping_ = true;
    } else {
      dropping_ = false;
      // Due at its own time, not after the one before it reached the line.
      Push(Chunk{.bytes = f.bytes,
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

void Simulator::Sent(const Chunk& c) {
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
    Chunk& c = out_.front();
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
  if (const std::optional<std::string> back = link_.RecoverAbandoned()) {
    Say(opts_.port + " was mapped to " + *back + " before a nibp-sim was killed: put back");
  }
  // A user's own mapping (a device, a file) is not ours to take without being told.
  const PortEntry entry = InspectPortEntry(link_.path());
  if (entry.kind == PortEntry::kNotALink) {
    std::fprintf(stderr, "nibp-sim: %s is %s, not a link: left alone\n", opts_.port.c_str(),
                 link_.path().c_str());
    return 2;
  }
  if (entry.kind == PortEntry::kOther) {
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
  if (entry.kind == PortEntry::kDangling && !entry.target.starts_with("/dev/pts/")) {
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
    if (const std::string e = gauge_
                                  .emplace(opts_.checks.gaugePort,
                                           link_.path().parent_path() / opts_.checks.gaugePort)
                                  .Open();
        !e.empty()) {
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
      for (MasterInput in = pty_.Read(); !in.empty(); in = pty_.Read()) {
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
    for (const Reply& r : module_.TakeReplies()) Enqueue(r, now);

    StreamDue(now);
    PlayDue(now);
    WriteDue(now);

    switch (pty_.ReleaseAbandoned()) {
      case Pty::Exclusive::kNo:
        exclusiveCheck_ = {};
        break;
      case Pty::Exclusive::kHeld:
        exclusiveCheck_ = now + kExclusiveCheck;
        break;
      case Pty::Exclusive::kReleased:
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

}  // namespace sim
