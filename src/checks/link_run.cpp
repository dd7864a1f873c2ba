#include "checks/link_run.h"

#include <array>
#include <span>

namespace checks {
namespace {

// A cuff reading above this before the run means the module is busy measuring.
constexpr int kBusyAboveMmHg = 5;
// The module that has not answered by then is left to the engine's own no-reply rule.
constexpr int64_t kProbeMs = 1000;
constexpr size_t kMaxGaugeLine = 256;

}  // namespace

LinkRun::LinkRun(modlink::Link& link, std::vector<CheckKind> checks, Params params,
                 ReferenceSource* reference, Observer* observer)
    : link_(link), engine_(std::move(checks), std::move(params), *this, reference, observer) {}

SendResult LinkRun::Send(const commands::Request& request) {
  return link_.Send(request);
}

void LinkRun::Start(int64_t nowMs) {
  if (state_ != State::kIdle) return;
  if (auto why = PreconditionFailure(link_.Connected(), false)) {
    refused_ = std::move(why);
    state_ = State::kRefused;
    return;
  }
  state_ = State::kProbe;
  probeSince_ = nowMs;
  nextProbe_ = nowMs;
  Tick(nowMs);
}

void LinkRun::Tick(int64_t nowMs) {
  if (state_ == State::kProbe) {
    if (nowMs - probeSince_ >= kProbeMs) {
      state_ = State::kRunning;
      engine_.Start(nowMs);
      return;
    }
    if (nowMs >= nextProbe_) {
      nextProbe_ = nowMs + kPollMs;
      (void)link_.Send(commands::Simple(commands::Command::kGetPressure));
    }
    return;
  }
  if (state_ == State::kRunning) engine_.OnTick(nowMs);
}

void LinkRun::Abort(std::string_view reason, int64_t nowMs) {
  if (state_ == State::kProbe) {
    // Nothing was started: the cuff is left as it was, and the run is ABORTED with no checks.
    refused_ = std::string(reason);
    state_ = State::kRefused;
    return;
  }
  if (state_ == State::kRunning) engine_.Abort(reason, nowMs);
}

bool LinkRun::Done() const {
  return state_ == State::kRefused || (state_ == State::kRunning && engine_.Done());
}

int64_t LinkRun::NextTickMs() const {
  if (state_ == State::kProbe) return nextProbe_;
  return engine_.NextTickMs();
}

void LinkRun::OnEvent(const modlink::Event& e) {
  if (state_ == State::kProbe) {
    if (e.kind == modlink::EventKind::kCuffPressure) {
      if (auto why = PreconditionFailure(true, e.mmHg > kBusyAboveMmHg)) {
        refused_ = std::move(why);
        state_ = State::kRefused;
      } else {
        state_ = State::kRunning;
        engine_.Start(e.ms);
      }
    } else if (e.kind == modlink::EventKind::kPortLost ||
               e.kind == modlink::EventKind::kPortClosed) {
      refused_ = PreconditionFailure(false, false);
      state_ = State::kRefused;
    }
    return;
  }
  if (state_ == State::kRunning) engine_.OnEvent(e);
}

GaugePort::GaugePort(Unit unit, uint8_t port, uint32_t baud,
                     std::shared_ptr<serial::Platform> platform)
    : port_(port), baud_(baud), comm_(std::move(platform)), reference_(unit) {}

GaugePort::~GaugePort() {
  comm_.ClosePort();
}

bool GaugePort::Open() {
  comm_.SetPortSettings(port_, baud_, 8, 0, 0);
  comm_.SetNotifyWindow(this);
  (void)comm_.CreateIoEvents();
  if (!comm_.OpenPort()) return false;
  comm_.HoldReceive();
  return true;
}

void GaugePort::Poll(int64_t nowMs) {
  std::array<uint8_t, 1024> buf{};
  for (uint32_t n = 0; (n = comm_.TakeRx(buf, false)) > 0;) {
    for (const uint8_t c : std::span(buf.data(), n)) {
      if (c == '\n' || c == '\r') {
        if (!partial_.empty()) reference_.OnLine(partial_, nowMs);
        partial_.clear();
      } else if (partial_.size() < kMaxGaugeLine) {
        partial_ += static_cast<char>(c);
      }
    }
  }
}

}  // namespace checks
