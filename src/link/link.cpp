#include "link/link.h"

#include <array>

#include "commands/command_text.h"

namespace modlink {
namespace {

constexpr uint32_t kBaudRate = 9600;
constexpr uint8_t kByteSize = 8;
constexpr uint8_t kNoParity = 0;
constexpr uint8_t kOneStopBit = 0;

EventKind KindOf(const protocol::ShownEntry& entry) {
  switch (entry.kind) {
    case protocol::EntryKind::kBad:
      return EventKind::kBadFrame;
    case protocol::EntryKind::kDropped:
      return EventKind::kDropped;
    case protocol::EntryKind::kGood:
      break;
  }
  if (entry.isCuffPressure) return EventKind::kCuffPressure;
  if (entry.isBpData) return EventKind::kBpData;
  return entry.isCharReply ? EventKind::kCharReply : EventKind::kShortReply;
}

}  // namespace

Link::Link(Parts parts, TimerHost& timers, Clock clock)
    : comm_(parts.comm),
      rx_(parts.rx),
      tx_(parts.tx),
      txLine_(parts.txLine),
      timers_(timers),
      clock_(std::move(clock)) {}

// The reader must not outlive the owner it notifies.
Link::~Link() {
  comm_.ClosePort();
}

bool Link::Open(uint8_t port, serial::NotifyTarget* target) {
  comm_.SetPortSettings(port, kBaudRate, kByteSize, kNoParity, kOneStopBit);
  comm_.SetNotifyWindow(target);
  (void)comm_.CreateIoEvents();
  const std::string path = devicePath_.empty() ? CComm::DevicePath(port) : devicePath_;
  if (!comm_.OpenPort()) return false;
  port_ = port;
  openedPath_ = path;
  reached_ = devicePath_.empty() ? comm_.Opened().Device() : path;
  Event e = PortEvent(EventKind::kPortOpen);
  Emit(e);
  return true;
}

const std::string& Link::OpenFailure() const {
  return comm_.OpenFailure();
}

void Link::Close() {
  if (!Connected() && !lost_) return;
  if (lost_) {
    StopReopen();
    lost_ = false;
  }
  ReleasePort();
  Event e = PortEvent(EventKind::kPortClosed);
  Emit(e);
}

SendResult Link::Send(const commands::Request& request) {
  const size_t n = commands::BuildFrame(request, tx_);
  const std::span<const uint8_t> frame(tx_.data(), n);
  txLine_ = protocol::RenderRaw(protocol::kPrefixSent, frame);
  const SendResult sent =
      lost_ ? SendResult::kLost : comm_.Send(tx_.data(), static_cast<uint32_t>(n));
  commandLines_ = commands::EventLines(request);
  Event e;
  e.kind = sent == SendResult::kSent ? EventKind::kSent : EventKind::kNotSent;
  e.request = request;
  e.reason = sent;
  e.bytes = frame;
  if (sent == SendResult::kSent) e.rawLine = txLine_;
  e.lines = commandLines_;
  Emit(e);
  return sent;
}

SendResult Link::SendBytes(std::span<const uint8_t> bytes) {
  rawBytes_.assign(bytes.begin(), bytes.end());
  txLine_ = protocol::RenderRaw(protocol::kPrefixSent, rawBytes_);
  const SendResult sent =
      lost_ ? SendResult::kLost
            : comm_.Send(rawBytes_.data(), static_cast<uint32_t>(rawBytes_.size()));
  commandLines_ = {"-- Sent " + std::to_string(rawBytes_.size()) + " bytes --"};
  Event e;
  e.kind = sent == SendResult::kSent ? EventKind::kSent : EventKind::kNotSent;
  e.raw = true;
  e.reason = sent;
  e.bytes = rawBytes_;
  if (sent == SendResult::kSent) e.rawLine = txLine_;
  e.lines = commandLines_;
  Emit(e);
  return sent;
}

void Link::Take(bool rearm) {
  std::array<uint8_t, sizeof(CComm::m_rxRing)> block;
  const uint32_t n = comm_.TakeRx(block, rearm);
  for (uint32_t i = 0; i < n; ++i) rx_.PushReplyByte(block[i]);
  if (rx_.Assemble()) StartDispatch();
}

void Link::OnReceive() {
  // While the dispatch timer runs, its ticks take what comes: the reader need not wake us.
  Take(!dispatching_);
}

// A running timer keeps its period: a fast line then gets a tick every period, never later.
void Link::StartDispatch() {
  if (dispatching_) return;
  timers_.StartTimer(Timer::kDispatch, kDispatchMs);
  dispatching_ = true;
  comm_.HoldReceive();
}

void Link::OnTimer(Timer timer) {
  if (timer == Timer::kDispatch) {
    OnDispatchTick();
  } else {
    OnReopenTick();
  }
}

void Link::OnDispatchTick() {
  if (!dispatching_) return;
  Take(false);
  ShowWaiting();
}

void Link::ShowWaiting() {
  rx_.DispatchTick(tick_);
  if (tick_.stopTimer && dispatching_) {
    timers_.StopTimer(Timer::kDispatch);
    dispatching_ = false;
    // Bytes stored after the last take came without a notice: take them now.
    Take(true);
  }
  for (const protocol::ShownEntry& entry : tick_) {
    Event e;
    e.kind = KindOf(entry);
    e.rawLine = entry.rawLine;
    e.lines = std::span(entry.eventLines.begin(), entry.eventLines.size());
    e.mmHg = entry.cuffPressure;
    e.bp = entry.bpData;
    e.length = entry.length;
    e.character = entry.character;
    Emit(e);
  }
}

void Link::OnLost() {
  if (lost_ || !Connected() || !comm_.IsLost()) return;
  lost_ = true;
  Event e = PortEvent(EventKind::kPortLost);
  e.outputDropped = comm_.TakeOutputDroppedOnLoss();
  Emit(e);
  // The reader waits for the close; the first tick closes and then tries to open again.
  StartReopen();
}

void Link::StartReopen() {
  // Watching before the first try: a port that comes back in between is not missed.
  watch_ = std::make_unique<serial::ChangeWatch>(serial::WatchFolders(comm_.Opened()));
  const bool watched = watch_->Fd() >= 0 && timers_.WatchFd(Timer::kReopen, watch_->Fd());
  if (!watched) watch_.reset();
  timers_.StartTimer(Timer::kReopen, watched ? kReopenMs : kReopenUnwatchedMs);
}

void Link::StopReopen() {
  timers_.StopTimer(Timer::kReopen);
  if (!watch_) return;
  (void)timers_.WatchFd(Timer::kReopen, -1);
  watch_.reset();
}

void Link::OnReopenTick() {
  if (!lost_) {
    StopReopen();
    return;
  }
  // A change or the period: either way the events waiting are used up by this try.
  if (watch_) (void)watch_->TakeChanged();
  if (!Reopen()) return;
  StopReopen();
  if (devicePath_.empty()) reached_ = comm_.Opened().Device();
  lost_ = false;
  Event e = PortEvent(EventKind::kPortOpen);
  e.reopened = true;
  Emit(e);
}

bool Link::Reopen() {
  ReleasePort();
  return comm_.ReopenPort() == 1;
}

// The close purged the line, so a frame begun before it can never be completed. Take what the
// reader had stored, then let go of an unfinished frame, or the first frame after the next open
// would be taken for its rest and lost.
void Link::ReleasePort() {
  if (!Connected()) return;
  comm_.ClosePort();
  Take(!dispatching_);
  if (rx_.AbandonFrame()) StartDispatch();
}

Event Link::PortEvent(EventKind kind) const {
  Event e;
  e.kind = kind;
  e.port = devicePath_.empty() ? port_ : 0;
  e.device = openedPath_;
  return e;
}

void Link::Emit(Event& event) {
  if (clock_) event.ms = clock_();
  for (EventSink* sink : sinks_) sink->OnEvent(event);
}

}  // namespace modlink
