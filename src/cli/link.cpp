#include "cli/link.h"

#include <utility>

#include "commands/command_text.h"
#include "protocol/frames.h"

namespace cli {
namespace {

constexpr auto kStopCheck = std::chrono::milliseconds(100);

// The host's devices, with every open going to one path given on the command line.
class DevicePlatform final : public serial::Platform {
 public:
  DevicePlatform(std::shared_ptr<serial::Platform> os, std::string path)
      : os_(std::move(os)), path_(std::move(path)) {}
  serial::Status Open(const std::string& /*path*/, serial::Handle& out) override {
    return os_->Open(path_, out);
  }
  serial::Status Configure(serial::Handle h, const serial::LineSettings& line) override {
    return os_->Configure(h, line);
  }
  serial::Status Purge(serial::Handle h) override { return os_->Purge(h); }
  serial::Status Drain(serial::Handle h) override { return os_->Drain(h); }
  serial::Status ClearDtr(serial::Handle h) override { return os_->ClearDtr(h); }
  serial::Status BytesWaiting(serial::Handle h, uint32_t& count) override {
    return os_->BytesWaiting(h, count);
  }
  serial::Status Read(serial::Handle h, uint8_t* buf, uint32_t max, uint32_t& got) override {
    return os_->Read(h, buf, max, got);
  }
  serial::Status Write(serial::Handle h, const uint8_t* buf, uint32_t count,
                       uint32_t& written) override {
    return os_->Write(h, buf, count, written);
  }
  serial::Status Close(serial::Handle h) override { return os_->Close(h); }
  serial::Status OpenWaker(serial::Handle& out) override { return os_->OpenWaker(out); }
  void Wake(serial::Handle waker) override { os_->Wake(waker); }
  void ResetWaker(serial::Handle waker) override { os_->ResetWaker(waker); }
  serial::Status CloseWaker(serial::Handle waker) override { return os_->CloseWaker(waker); }
  serial::WaitResult Wait(serial::Handle h, serial::Handle waker, bool wantWrite) override {
    return os_->Wait(h, waker, wantWrite);
  }
  [[nodiscard]] int LastError() const override { return os_->LastError(); }

 private:
  std::shared_ptr<serial::Platform> os_;
  std::string path_;
};

std::shared_ptr<serial::Platform> PlatformFor(const LinkTarget& target,
                                              std::shared_ptr<serial::Platform> os) {
  if (target.device.empty()) return os;
  return std::make_shared<DevicePlatform>(std::move(os), target.device);
}

}  // namespace

Link::Link(LinkTarget target, Output& out, std::shared_ptr<serial::Platform> platform)
    : target_(std::move(target)),
      out_(out),
      platform_(PlatformFor(target_, std::move(platform))),
      comm_(platform_),
      link_({comm_, rx_, tx_, txLine_}, *this, records::NowMs) {
  rx_.ResetFrameState();
  link_.SetDevicePath(target_.device);
  link_.AddSink(*this);
}

Link::~Link() = default;

std::string Link::StateText(std::string_view state) const {
  if (target_.device.empty()) return commands::PortStateText(target_.port, state);
  return target_.device + ' ' + std::string(state);
}

bool Link::Open() {
  return link_.Open(target_.port, this);
}

std::string Link::FailureLine() const {
  // "path: reason" from the serial layer; the path is the one opened when the port was open.
  std::string reason = link_.OpenFailure();
  const size_t colon = reason.find(": ");
  reason = colon == std::string::npos ? std::string(Lost() ? "device lost" : "not opened")
                                      : reason.substr(colon + 2);
  std::string path = link_.DevicePath();
  if (path.empty())
    path = target_.device.empty() ? CComm::DevicePath(target_.port) : target_.device;
  const std::string where = path + ": " + reason;
  return target_.device.empty() ? CComm::DeviceName(target_.port) + ": " + where : where;
}

SendResult Link::Send(const commands::Request& request, Echo echo) {
  echo_ = echo;
  return link_.Send(request);
}

void Link::OnEvent(const modlink::Event& e) {
  // Recorded before the driver answers it, so the records keep the order of cause and effect.
  RecordEvent(e);
  if (forward_ != nullptr) forward_->OnEvent(e);
}

void Link::RecordEvent(const modlink::Event& e) {
  using modlink::EventKind;
  using records::Tag;
  switch (e.kind) {
    case EventKind::kSent:
    case EventKind::kNotSent:
      if (echo_ == Echo::kNone) return;
      if (quietPolls_ && e.request.command == commands::Command::kGetPressure) return;
      if (e.kind == EventKind::kSent && echo_ == Echo::kAll) out_.Record(Tag::kRaw, e.rawLine);
      for (const std::string& line : e.lines) out_.Record(Tag::kEvent, line);
      if (const auto why = commands::NotSentText(e.reason)) out_.Record(Tag::kEvent, *why);
      return;
    case EventKind::kCuffPressure:
    case EventKind::kBpData:
    case EventKind::kShortReply:
    case EventKind::kCharReply:
      if (showReceived_) {
        out_.Record(Tag::kRaw, e.rawLine);
        if (e.kind == EventKind::kBpData) {
          out_.Result(e.lines, e.bp, std::nullopt);  // a plain send knows no mode
        } else {
          for (const std::string& line : e.lines) out_.Record(Tag::kEvent, line);
        }
      }
      if (onFrame_) onFrame_(e);
      return;
    case EventKind::kBadFrame:
    case EventKind::kDropped:
      if (showReceived_)
        out_.Record(e.kind == EventKind::kBadFrame ? Tag::kBad : Tag::kDropped, e.rawLine);
      return;
    case EventKind::kPortOpen:
    case EventKind::kPortLost: {
      const bool open = e.kind == EventKind::kPortOpen;
      const std::string text = StateText(open ? commands::kOpen : commands::kLost);
      out_.Record(Tag::kStatus, text);
      if (!open || e.reopened) out_.Record(Tag::kEvent, text);
      if (e.outputDropped) out_.Record(Tag::kEvent, *commands::NotSentText(SendResult::kLost));
      return;
    }
    case EventKind::kPortClosed:
      return;
  }
}

void Link::StartTimer(modlink::Timer timer, uint32_t periodMs) {
  Due& due = timer == modlink::Timer::kDispatch ? dispatch_ : reopen_;
  due.period = std::chrono::milliseconds(periodMs);
  // A frame is written as soon as it is whole; the ticks after it catch what follows.
  due.next = SteadyClock::now() +
             (timer == modlink::Timer::kDispatch ? SteadyClock::duration{} : due.period);
}

void Link::StopTimer(modlink::Timer timer) {
  (timer == modlink::Timer::kDispatch ? dispatch_ : reopen_).next.reset();
}

bool Link::RunDueTimer(SteadyClock::time_point now) {
  for (auto [due, timer] : {std::pair{&dispatch_, modlink::Timer::kDispatch},
                            std::pair{&reopen_, modlink::Timer::kReopen}}) {
    if (!due->next || now < *due->next) continue;
    // Ticks missed while the process was stalled are skipped, not run back to back.
    *due->next += due->period;
    if (*due->next <= now) *due->next = now + due->period;
    link_.OnTimer(timer);
    return true;
  }
  return false;
}

void Link::RunUntil(SteadyClock::time_point until, const std::atomic<int>& stop) {
  returnEarly_ = false;
  while (true) {
    HandlePending();
    if (stop || returnEarly_ || out_.Failed()) return;
    const auto now = SteadyClock::now();
    if (RunDueTimer(now)) {
      if (stop || returnEarly_ || out_.Failed()) return;
      continue;
    }
    if (now >= until) return;
    auto wake = std::min(until, now + kStopCheck);
    if (dispatch_.next) wake = std::min(wake, *dispatch_.next);
    if (reopen_.next) wake = std::min(wake, *reopen_.next);
    std::unique_lock lock(mu_);
    cv_.wait_until(lock, wake, [&] { return receivePending_ || lostPending_; });
  }
}

void Link::PostNotify(uint32_t msg, uintptr_t /*wParam*/) {
  {
    std::lock_guard lock(mu_);
    if (msg == WM_COMM_RECEIVE) receivePending_ = true;
    if (msg == WM_COMM_LOST) lostPending_ = true;
  }
  cv_.notify_one();
}

void Link::HandlePending() {
  bool receive = false;
  bool lost = false;
  {
    std::lock_guard lock(mu_);
    receive = std::exchange(receivePending_, false);
    lost = std::exchange(lostPending_, false);
  }
  // The last block comes before the loss that followed it.
  if (receive) link_.OnReceive();
  if (lost) link_.OnLost();
}

}  // namespace cli
