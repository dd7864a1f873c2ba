#include "serial/comm.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "serial/platform.h"

const CRuntimeClass CComm::classCComm{"CComm", &CObject::classCObject};

namespace {

constexpr uint32_t kRingMask = 0x3FF;
constexpr uint32_t kBlockSize = 1024;
constexpr uint8_t kLastComPort = 200;
constexpr std::chrono::milliseconds kGatherTime{20};
constexpr uint32_t kGatherBelow = 64;  // bytes in one read

std::string FailureReason(serial::Status why, int err) {
  if (why == serial::Status::kInUse) return "a terminal in use";
  return err != 0 ? std::strerror(err) : "failed";
}

}  // namespace

struct CComm::Impl {
  explicit Impl(std::shared_ptr<serial::Platform> p) : platform(std::move(p)) {}

  std::shared_ptr<serial::Platform> platform;
  // The way the last open went, kept for a reopen.
  serial::PortRoute route;
  // Ends the reader's wait; made by OpenPort, closed by ClosePort after the reader has ended.
  serial::Handle waker = serial::kInvalidHandle;
  std::atomic<uint64_t> wakeups{0};
  std::atomic<uint64_t> reads{0};
  std::atomic<bool> idle{false};
  std::atomic<bool> lost{false};
  // A receive notice is posted and not yet taken, or the owner holds notices off.
  std::atomic<bool> noticePending{false};
  // The owner takes what waits on its own timer: the reader may let bytes gather.
  std::atomic<bool> held{false};
  // The reader waits for room in the ring.
  std::mutex roomMu;
  std::condition_variable_any roomCv;
  std::atomic<bool> starved{false};

  // The output queue, shared by Send and the reader.
  mutable std::mutex txMu;
  std::vector<uint8_t> txQueue;
  bool txDroppedOnLoss = false;
};

CComm::CComm() : CComm(serial::MakePosixPlatform()) {}

CComm::CComm(std::shared_ptr<serial::Platform> platform)
    : impl_(std::make_unique<Impl>(std::move(platform))) {}

// The reader uses this object until it ends, so it must not outlive it.
CComm::~CComm() {
  ClosePort();
}

void CComm::SetPortSettings(uint8_t port, uint32_t baudRate, uint8_t byteSize, uint8_t parity,
                            uint8_t stopBits) {
  m_nPort = port;
  m_dwBaudRate = baudRate;
  m_nByteSize = byteSize;
  m_nParity = parity;
  m_nStopBits = stopBits;
}

void CComm::SetNotifyWindow(serial::NotifyTarget* window) {
  m_hNotifyWnd = window;
}

// Reads and writes here need no completion events; only the contexts' positions are reset.
BOOL CComm::CreateIoEvents() {
  m_osWrite = {};
  m_osRead = {};
  return 1;
}

// Records why the open failed, from the error the failing call left.
BOOL CComm::FailOpen(serial::Status why) {
  // A link whose target is missing is named with that target: the link itself is fine.
  const serial::PortRoute& route = impl_->route;
  const bool dangling = why == serial::Status::kNotFound &&
                        route.via == serial::PortRoute::Via::kLink && !route.target.empty();
  const std::string where = dangling ? DeviceName(route.port) + " -> " + route.target : route.path;
  m_strOpenFailure = where + ": " + FailureReason(why, impl_->platform->LastError());
  m_bConnected = 0;
  if (m_hComm != serial::kInvalidHandle) (void)impl_->platform->Close(m_hComm);
  m_hComm = serial::kInvalidHandle;
  return 0;
}

BOOL CComm::OpenPort() {
  // A second open would orphan the running reader.
  if (m_bConnected) return 0;
  impl_->route = serial::ResolvePort(m_nPort);
  return OpenRoute();
}

BOOL CComm::ReopenPort() {
  if (m_bConnected) return 0;
  if (impl_->route.via == serial::PortRoute::Via::kNone || impl_->route.port != m_nPort)
    return OpenPort();
  return OpenRoute();
}

const serial::PortRoute& CComm::Opened() const {
  return impl_->route;
}

BOOL CComm::OpenRoute() {
  serial::Platform& os = *impl_->platform;
  serial::PortRoute& route = impl_->route;
  serial::Handle h = serial::kInvalidHandle;
  m_hComm = serial::kInvalidHandle;
  m_strOpenFailure.clear();
  // Read before the open: a link changed in between names the device it pointed at before.
  route.target = route.via == serial::PortRoute::Via::kLink ? serial::LinkTarget(route.path) : "";
  if (const serial::Status s = os.Open(route.path, h); s != serial::Status::kOk) return FailOpen(s);
  m_hComm = h;

  const auto fail = [&] { return FailOpen(serial::Status::kFailed); };
  if (!ConfigurePort()) return fail();
  // Only after the line is raw: bytes that came in under the previous settings may have been
  // edited by line processing (erase, kill, CR to NL) and are dropped with the rest.
  (void)os.Purge(h);
  serial::Handle waker = serial::kInvalidHandle;
  if (os.OpenWaker(waker) != serial::Status::kOk) return fail();
  impl_->waker = waker;
  impl_->wakeups = 0;
  impl_->reads = 0;
  impl_->idle = false;
  impl_->lost = false;
  {
    std::lock_guard lock(impl_->txMu);
    impl_->txQueue.clear();
    impl_->txDroppedOnLoss = false;
  }

  // Set before the reader starts, so that its first test finds it.
  m_bConnected = 1;
  try {
    m_pReaderThread =
        std::make_unique<std::jthread>(&CComm::CommReaderThread, static_cast<CObject*>(this));
  } catch (const std::system_error&) {
    (void)os.CloseWaker(impl_->waker);
    impl_->waker = serial::kInvalidHandle;
    return fail();
  }
  return 1;
}

// Always 8N1 without flow control, whatever was recorded; only the baud rate is taken.
BOOL CComm::ConfigurePort() {
  const serial::LineSettings line{m_dwBaudRate, 8, serial::Parity::kNone, serial::StopBits::kOne};
  return impl_->platform->Configure(m_hComm, line) == serial::Status::kOk ? 1 : 0;
}

BOOL CComm::WritePort(const uint8_t* bytes, uint32_t count) {
  return Send(bytes, count) == SendResult::kSent ? 1 : 0;
}

SendResult CComm::Send(const uint8_t* bytes, uint32_t count) {
  if (m_hComm == serial::kInvalidHandle || !m_bConnected) return SendResult::kClosed;
  if (impl_->lost) return SendResult::kLost;
  std::lock_guard lock(impl_->txMu);
  std::vector<uint8_t>& queue = impl_->txQueue;
  if (queue.size() + count > kOutputQueueSize) return SendResult::kFull;
  uint32_t written = 0;
  if (queue.empty()) {
    const serial::Status s = impl_->platform->Write(m_hComm, bytes, count, written);
    if (s != serial::Status::kOk && s != serial::Status::kWouldBlock) return SendResult::kLost;
    if (written == count) return SendResult::kSent;
  }
  // The rest goes out in order as the device takes it; the reader now watches for that.
  const bool wasEmpty = queue.empty();
  queue.insert(queue.end(), bytes + written, bytes + count);
  if (wasEmpty) impl_->platform->Wake(impl_->waker);
  return SendResult::kSent;
}

bool CComm::IsLost() const {
  return impl_->lost;
}

bool CComm::TakeOutputDroppedOnLoss() {
  std::lock_guard lock(impl_->txMu);
  return std::exchange(impl_->txDroppedOnLoss, false);
}

uint32_t CComm::OutputQueued() const {
  std::lock_guard lock(impl_->txMu);
  return static_cast<uint32_t>(impl_->txQueue.size());
}

bool CComm::DrainOutput(int limitMs) {
  if (m_bConnected != 1) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (OutputQueued() != 0) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return impl_->platform->Drain(m_hComm) == serial::Status::kOk;
}

bool CComm::FlushOutput() {
  std::lock_guard lock(impl_->txMu);
  std::vector<uint8_t>& queue = impl_->txQueue;
  if (queue.empty()) return true;
  uint32_t written = 0;
  const serial::Status s =
      impl_->platform->Write(m_hComm, queue.data(), static_cast<uint32_t>(queue.size()), written);
  if (s != serial::Status::kOk && s != serial::Status::kWouldBlock) return false;
  queue.erase(queue.begin(), queue.begin() + written);
  return true;
}

BOOL CComm::ClosePort() {
  if (!m_bConnected) return 1;
  ReleasePort();
  return 1;
}

// The reader is stopped and joined before the device is touched, so nothing it holds is
// closed under it. A hand-over the window has not taken yet is withdrawn from the reader's
// side only: the message stays queued and its block stays in the ring.
BOOL CComm::ReleasePort() {
  serial::Platform& os = *impl_->platform;
  m_bConnected = 0;
  if (m_pReaderThread) {
    m_pReaderThread->request_stop();  // also ends a wait for room in the ring
    os.Wake(impl_->waker);
    m_pReaderThread->join();
    m_pReaderThread.reset();
  }
  (void)os.CloseWaker(impl_->waker);
  impl_->waker = serial::kInvalidHandle;
  (void)os.ClearDtr(m_hComm);
  (void)os.Purge(m_hComm);
  (void)os.Close(m_hComm);
  m_hComm = serial::kInvalidHandle;
  return 1;
}

BOOL CComm::HasRxData() const {
  return m_nRxWrite.load(std::memory_order_acquire) != m_nRxRead.load(std::memory_order_relaxed)
             ? 1
             : 0;
}

uint8_t CComm::GetRxByte() {
  const uint32_t r = m_nRxRead.load(std::memory_order_relaxed);
  const uint8_t b = m_rxRing[r & kRingMask];
  m_nRxRead.store(r + 1, std::memory_order_release);
  return b;
}

uint32_t CComm::TakeRx(std::span<uint8_t> out, bool rearm) {
  // Rearmed before the ring is read: a block stored after this read is posted again.
  impl_->noticePending.store(!rearm);
  if (rearm) impl_->held.store(false);
  const uint32_t r = m_nRxRead.load(std::memory_order_relaxed);
  const uint32_t w = m_nRxWrite.load(std::memory_order_acquire);
  const uint32_t n = std::min<uint32_t>(w - r, static_cast<uint32_t>(out.size()));
  for (uint32_t i = 0; i < n; ++i) out[i] = m_rxRing[(r + i) & kRingMask];
  m_nRxRead.store(r + n);
  if (n != 0 && impl_->starved.load()) {
    std::lock_guard lock(impl_->roomMu);
    impl_->roomCv.notify_all();
  }
  return n;
}

void CComm::HoldReceive() {
  impl_->held.store(true);
  impl_->noticePending.store(true);
}

void CComm::Gather(std::stop_token stop) {
  // A flood is read as fast as it comes: only a trickle waits.
  if (!impl_->held.load() || m_dwLastRead >= kGatherBelow) return;
  // One owner's tick: a stream is read a few frames at a time, and each frame is shown at most
  // one tick after the one it would have made.
  std::unique_lock lock(impl_->roomMu);
  // Not cut short when a take rearms notices: a stream's ticks stop and start again often, and
  // waking the reader each time would cost more than the tick it may save.
  (void)impl_->roomCv.wait_for(lock, stop, kGatherTime, [] { return false; });
}

void CComm::Notify(uint32_t msg) {
  if (serial::NotifyTarget* window = m_hNotifyWnd; window != nullptr) {
    window->PostNotify(msg, m_nPort);
  }
}

bool CComm::WaitForRoom(std::stop_token stop) {
  const auto room = [&] {
    return m_nRxWrite.load(std::memory_order_relaxed) - m_nRxRead.load() < sizeof m_rxRing;
  };
  if (room()) return true;
  std::unique_lock lock(impl_->roomMu);
  impl_->starved.store(true);
  // Posted even while notices are held off: the owner empties the ring at once.
  Notify(WM_COMM_RECEIVE);
  const bool ok = impl_->roomCv.wait(lock, stop, room);
  impl_->starved.store(false);
  return ok;
}

int CComm::CommReaderThread(std::stop_token stop, CObject* param) {
  if (param == nullptr || !param->IsKindOf(&classCComm)) return -1;
  return static_cast<CComm*>(param)->ReaderLoop(std::move(stop));
}

int CComm::ReaderLoop(std::stop_token stop) {
  serial::Platform& os = *impl_->platform;
  uint8_t buffer[kBlockSize];
  while (m_bConnected && !stop.stop_requested()) {
    bool wantWrite = false;
    {
      std::lock_guard lock(impl_->txMu);
      wantWrite = !impl_->txQueue.empty();
    }
    const serial::WaitResult r = os.Wait(m_hComm, impl_->waker, wantWrite);
    ++impl_->wakeups;
    if (r == serial::WaitResult::kWoken) {
      // Output was queued, or the close asks us to end (the loop test sees that).
      if (!stop.stop_requested()) os.ResetWaker(impl_->waker);
      continue;
    }
    if (r == serial::WaitResult::kWritable && FlushOutput()) continue;
    if (r == serial::WaitResult::kReceived && ReadBlock(buffer, kBlockSize, stop)) {
      Gather(stop);
      continue;
    }
    if (r == serial::WaitResult::kHangUp) (void)ReadBlock(buffer, kBlockSize, stop);
    // The device went away: it would report so forever. Say so once, then stay idle until the
    // port is closed; a fresh open finds the device again once it is back.
    MarkLost(stop);
    std::mutex mu;
    std::condition_variable_any cv;
    std::unique_lock lock(mu);
    cv.wait(lock, stop, [] { return false; });
    break;
  }
  return 1;
}

void CComm::MarkLost(std::stop_token /*stop*/) {
  {
    std::lock_guard lock(impl_->txMu);
    impl_->txDroppedOnLoss = !impl_->txQueue.empty();
    impl_->txQueue.clear();
    impl_->lost = true;
  }
  impl_->idle = true;
  // A notice still queued after a close finds the port closed.
  Notify(WM_COMM_LOST);
}

// Moves what is waiting, as much as the ring has room for, into the ring and tells the owner
// unless a notice is already pending. False when the device went away.
bool CComm::ReadBlock(uint8_t* buffer, uint32_t maxCount, std::stop_token stop) {
  serial::Platform& os = *impl_->platform;
  if (!WaitForRoom(stop)) return true;  // the close stopped the wait

  uint32_t waiting = 0;
  if (os.BytesWaiting(m_hComm, waiting) != serial::Status::kOk) {
    m_dwLastRead = 0;
    return false;
  }
  const uint32_t room =
      static_cast<uint32_t>(sizeof m_rxRing) -
      (m_nRxWrite.load(std::memory_order_relaxed) - m_nRxRead.load(std::memory_order_acquire));
  const uint32_t n = std::min({maxCount, waiting, room});
  m_dwLastRead = n;
  if (n == 0) return true;

  uint32_t got = 0;
  ++impl_->reads;
  const serial::Status s = os.Read(m_hComm, buffer, n, got);
  m_dwLastRead = got;
  if (s != serial::Status::kOk) return false;  // the block is dropped
  if (got == 0) return true;

  const uint32_t w = m_nRxWrite.load(std::memory_order_relaxed);
  for (uint32_t i = 0; i < got; ++i) m_rxRing[(w + i) & kRingMask] = buffer[i];
  m_nRxWrite.store(w + got, std::memory_order_release);
  // One notice per batch: the owner takes everything stored up to its take.
  if (!impl_->noticePending.exchange(true)) Notify(WM_COMM_RECEIVE);
  return true;
}

CommReaderStats CComm::ReaderStats() const {
  return {impl_->wakeups.load(), impl_->reads.load(), impl_->idle.load()};
}

std::string CComm::DeviceName(uint8_t port) {
  return port > kLastComPort ? "TELNET" : "COM" + std::to_string(port);
}

std::string CComm::DevicePath(uint8_t port) {
  return serial::ResolvePort(port).path;
}
