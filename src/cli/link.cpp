#include "cli/link.h"

#include <cstring>

#include "commands/command_text.h"
#include "protocol/frames.h"

namespace cli {
namespace {

constexpr uint32_t kBaudRate = 9600;
constexpr uint8_t kByteSize = 8;
constexpr uint8_t kNoParity = 0;
constexpr uint8_t kOneStopBit = 0;
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
      comm_(platform_) {
  rx_.ResetFrameState();
}

// The reader must be gone before the hand-over it waits on.
Link::~Link() {
  comm_.ClosePort();
}

std::string Link::StateText(std::string_view state) const {
  if (target_.device.empty()) return commands::PortStateText(target_.port, state);
  return target_.device + ' ' + std::string(state);
}

std::string Link::DevicePath() const {
  return target_.device.empty() ? CComm::DevicePath(target_.port) : target_.device;
}

bool Link::Open() {
  comm_.SetPortSettings(target_.port, kBaudRate, kByteSize, kNoParity, kOneStopBit);
  comm_.SetNotifyWindow(this);
  (void)comm_.CreateIoEvents();
  if (!comm_.OpenPort()) return false;
  out_.Record(records::Tag::kStatus, StateText(commands::kOpen));
  return true;
}

std::string Link::FailureLine() const {
  // "path: reason" from the serial layer, which names the path of the port number it was given;
  // a device given outright is the one that was opened.
  std::string reason = comm_.OpenFailure();
  const size_t colon = reason.find(": ");
  reason = colon == std::string::npos ? std::string(lost_ ? "device lost" : "not opened")
                                      : reason.substr(colon + 2);
  const std::string where = DevicePath() + ": " + reason;
  return target_.device.empty() ? CComm::DeviceName(target_.port) + ": " + where : where;
}

SendResult Link::Send(std::span<const uint8_t> frame, const std::vector<std::string>& eventLines,
                      Echo echo) {
  const SendResult sent =
      lost_ ? SendResult::kLost : comm_.Send(frame.data(), static_cast<uint32_t>(frame.size()));
  if (echo == Echo::kNone) return sent;
  if (sent == SendResult::kSent && echo == Echo::kAll) {
    out_.Record(records::Tag::kRaw, protocol::RenderRaw(protocol::kPrefixSent, frame));
  }
  for (const auto& line : eventLines) out_.Record(records::Tag::kEvent, line);
  if (const auto notSent = commands::NotSentText(sent)) {
    out_.Record(records::Tag::kEvent, *notSent);
  }
  return sent;
}

void Link::RunUntil(SteadyClock::time_point until, const std::atomic<bool>& stop) {
  returnEarly_ = false;
  while (true) {
    HandlePending();
    if (stop || returnEarly_) return;
    const auto now = SteadyClock::now();
    if (lost_ && now >= nextReopen_) {
      TryReopen();
      continue;
    }
    if (now >= until) return;
    auto wake = std::min(until, now + kStopCheck);
    if (lost_) wake = std::min(wake, nextReopen_);
    std::unique_lock lock(mu_);
    cv_.wait_until(lock, wake, [&] { return !queue_.empty(); });
  }
}

bool Link::SendMessageSync(uint32_t msg, uintptr_t /*wParam*/, intptr_t /*lParam*/,
                           std::stop_token stop) {
  std::unique_lock lock(mu_);
  const uint64_t id = ++posted_;
  queue_.push_back({msg, id});
  cv_.notify_all();
  return cv_.wait(lock, stop, [&] { return handled_ >= id; });
}

bool Link::WaitIdle(std::stop_token stop) {
  std::unique_lock lock(mu_);
  return cv_.wait(lock, stop, [&] { return handled_ == posted_; });
}

void Link::HandlePending() {
  std::unique_lock lock(mu_);
  while (!queue_.empty()) {
    const Message m = queue_.front();
    queue_.pop_front();
    lock.unlock();
    if (m.msg == WM_COMM_RECEIVE) {
      OnReceive();
    } else if (m.msg == WM_COMM_LOST) {
      OnLost();
    }
    lock.lock();
    handled_ = m.id;
    cv_.notify_all();
  }
}

void Link::OnReceive() {
  const uint32_t count = comm_.m_dwLastRead;
  for (uint32_t i = 0; i < count; ++i) {
    if (comm_.HasRxData()) rx_.PushReplyByte(comm_.GetRxByte());
  }
  (void)rx_.Assemble();
  ShowWaiting();
}

// As the console: a message from a reader closed since finds nothing to do.
void Link::OnLost() {
  if (lost_ || comm_.m_bConnected != 1 || !comm_.IsLost()) return;
  lost_ = true;
  const std::string text = StateText(commands::kLost);
  out_.Record(records::Tag::kStatus, text);
  out_.Record(records::Tag::kEvent, text);
  if (comm_.TakeOutputDroppedOnLoss()) {
    out_.Record(records::Tag::kEvent, *commands::NotSentText(SendResult::kLost));
  }
  nextReopen_ = SteadyClock::now() + kReopenPeriod;
}

void Link::TryReopen() {
  ReleasePort();
  if (!comm_.ReopenPort()) {
    nextReopen_ = SteadyClock::now() + kReopenPeriod;
    return;
  }
  lost_ = false;
  const std::string text = StateText(commands::kOpen);
  out_.Record(records::Tag::kStatus, text);
  out_.Record(records::Tag::kEvent, text);
}

// As the console's: what the reader had handed over is taken, and an unfinished frame let go,
// or the first frame after the next open would be taken for its rest.
void Link::ReleasePort() {
  if (comm_.m_bConnected != 1) return;
  comm_.ClosePort();
  while (comm_.HasRxData()) rx_.PushReplyByte(comm_.GetRxByte());
  (void)rx_.Assemble();
  (void)rx_.AbandonFrame();
  ShowWaiting();
}

void Link::ShowWaiting() {
  rx_.DispatchTick(tick_);
  for (const protocol::ShownEntry& entry : tick_) {
    if (entry.kind != protocol::EntryKind::kGood) {
      if (showReceived_) {
        out_.Record(
            entry.kind == protocol::EntryKind::kBad ? records::Tag::kBad : records::Tag::kDropped,
            entry.rawLine);
      }
      continue;
    }
    if (showReceived_) {
      out_.Record(records::Tag::kRaw, entry.rawLine);
      const std::span lines(entry.eventLines.begin(), entry.eventLines.size());
      if (entry.isBpData) {
        out_.Result(lines, entry.bpData, std::nullopt);  // a plain send knows no mode
      } else {
        for (const auto& line : lines) out_.Record(records::Tag::kEvent, line);
      }
    }
    if (onEntry_) onEntry_(entry);
  }
}

}  // namespace cli
