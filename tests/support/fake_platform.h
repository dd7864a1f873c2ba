#pragma once
// An OS layer in memory for tests: one simulated device per opened path, fed by the test, with
// a log of the calls made from the owner's side. Calls from the reader thread (Wait,
// BytesWaiting, Read) are counted, not logged, as their number depends on timing.

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "serial/platform.h"

namespace serial {

class FakePlatform final : public Platform {
 public:
  // Results to hand back; set them before the call they shape.
  Status openResult = Status::kOk;
  Status configureResult = Status::kOk;
  Status wakerResult = Status::kOk;
  Status writeResult = Status::kOk;
  uint32_t writeLimit = UINT32_MAX;  // bytes a write takes at most
  int lastError = 0;                 // what LastError reports

  // ---- the device side ----
  // Bytes arrive at the open device.
  void Feed(const std::vector<uint8_t>& bytes) {
    {
      std::lock_guard lock(mu_);
      rx_.insert(rx_.end(), bytes.begin(), bytes.end());
    }
    cv_.notify_all();
  }
  // One wake-up that finds nothing waiting.
  void SignalReadable() {
    {
      std::lock_guard lock(mu_);
      spurious_ = true;
    }
    cv_.notify_all();
  }
  // The device goes away: every later wait reports the hang-up, reads fail.
  void HangUp() {
    {
      std::lock_guard lock(mu_);
      hungUp_ = true;
    }
    cv_.notify_all();
  }
  // The line stops taking output after `room` more bytes, until Drain.
  void Block(uint32_t room) {
    std::lock_guard lock(mu_);
    room_ = room;
  }
  // The peer reads: the line takes output again.
  void Drain() {
    {
      std::lock_guard lock(mu_);
      room_ = UINT32_MAX;
    }
    cv_.notify_all();
  }
  // The device comes back (the next open sees it fresh).
  void Replug() {
    std::lock_guard lock(mu_);
    hungUp_ = false;
    rx_.clear();
  }

  [[nodiscard]] std::vector<uint8_t> Written() const {
    std::lock_guard lock(mu_);
    return written_;
  }
  [[nodiscard]] std::vector<std::string> Calls() const {
    std::lock_guard lock(mu_);
    return calls_;
  }
  void ClearCalls() {
    std::lock_guard lock(mu_);
    calls_.clear();
  }
  [[nodiscard]] size_t WaitCount() const {
    std::lock_guard lock(mu_);
    return waits_;
  }
  [[nodiscard]] size_t RxPending() const {
    std::lock_guard lock(mu_);
    return rx_.size();
  }
  // Calls on a handle that is not open: a use after close.
  [[nodiscard]] size_t BadHandleUses() const {
    std::lock_guard lock(mu_);
    return badHandles_;
  }

  // ---- Platform ----
  Status Open(const std::string& path, Handle& out) override {
    std::lock_guard lock(mu_);
    Log("Open " + path);
    out = kInvalidHandle;
    if (openResult != Status::kOk) return openResult;
    for (const auto& [h, p] : devices_) {
      if (p == path) return Status::kBusy;
    }
    out = next_++;
    devices_[out] = path;
    return Status::kOk;
  }
  Status Configure(Handle h, const LineSettings& line) override {
    std::lock_guard lock(mu_);
    static constexpr char kParity[] = {'N', 'O', 'E'};
    Log("Configure " + std::to_string(line.baudRate) + " " + std::to_string(line.dataBits) +
        kParity[static_cast<int>(line.parity)] + (line.stopBits == StopBits::kOne ? "1" : "2"));
    if (!Known(h)) return Status::kFailed;
    return configureResult;
  }
  Status Purge(Handle h) override {
    std::lock_guard lock(mu_);
    Log("Purge");
    if (!Known(h)) return Status::kFailed;
    rx_.clear();
    return Status::kOk;
  }
  Status Drain(Handle h) override {
    std::lock_guard lock(mu_);
    Log("Drain");
    return Known(h) ? Status::kOk : Status::kFailed;
  }
  Status ClearDtr(Handle h) override {
    std::lock_guard lock(mu_);
    Log("ClearDtr");
    return Known(h) ? Status::kOk : Status::kFailed;
  }
  Status BytesWaiting(Handle h, uint32_t& count) override {
    std::lock_guard lock(mu_);
    count = 0;
    if (!Known(h)) return Status::kFailed;
    count = static_cast<uint32_t>(rx_.size());
    return Status::kOk;
  }
  Status Read(Handle h, uint8_t* buf, uint32_t max, uint32_t& got) override {
    std::lock_guard lock(mu_);
    got = 0;
    if (!Known(h)) return Status::kFailed;
    if (hungUp_) return Status::kGone;
    got = std::min<uint32_t>(max, static_cast<uint32_t>(rx_.size()));
    std::copy_n(rx_.begin(), got, buf);
    rx_.erase(rx_.begin(), rx_.begin() + got);
    return Status::kOk;
  }
  Status Write(Handle h, const uint8_t* buf, uint32_t count, uint32_t& written) override {
    std::lock_guard lock(mu_);
    Log("Write " + std::to_string(count));
    written = 0;
    if (!Known(h)) return Status::kFailed;
    if (writeResult != Status::kOk) return writeResult;
    written = std::min({count, writeLimit, room_});
    if (room_ != UINT32_MAX) room_ -= written;
    if (written == 0 && count != 0) return Status::kWouldBlock;
    written_.insert(written_.end(), buf, buf + written);
    return Status::kOk;
  }
  Status Close(Handle h) override {
    std::lock_guard lock(mu_);
    Log("Close");
    if (!Known(h)) return Status::kFailed;
    devices_.erase(h);
    return Status::kOk;
  }
  Status OpenWaker(Handle& out) override {
    std::lock_guard lock(mu_);
    Log("OpenWaker");
    out = kInvalidHandle;
    if (wakerResult != Status::kOk) return wakerResult;
    out = next_++;
    wakers_[out] = false;
    return Status::kOk;
  }
  void Wake(Handle waker) override {
    {
      std::lock_guard lock(mu_);
      Log("Wake");
      if (auto it = wakers_.find(waker); it != wakers_.end()) {
        it->second = true;
      } else {
        ++badHandles_;
      }
    }
    cv_.notify_all();
  }
  void ResetWaker(Handle waker) override {
    std::lock_guard lock(mu_);
    if (auto it = wakers_.find(waker); it != wakers_.end()) it->second = false;
  }
  Status CloseWaker(Handle waker) override {
    std::lock_guard lock(mu_);
    Log("CloseWaker");
    if (wakers_.erase(waker) == 0) {
      ++badHandles_;
      return Status::kFailed;
    }
    return Status::kOk;
  }
  WaitResult Wait(Handle h, Handle waker, bool wantWrite) override {
    std::unique_lock lock(mu_);
    ++waits_;
    if (!Known(h) || wakers_.count(waker) == 0) return WaitResult::kFailed;
    const auto writable = [&] { return wantWrite && room_ > 0; };
    cv_.wait(lock,
             [&] { return wakers_[waker] || hungUp_ || spurious_ || !rx_.empty() || writable(); });
    if (wakers_[waker]) return WaitResult::kWoken;
    if (hungUp_) return WaitResult::kHangUp;
    if (spurious_ || !rx_.empty()) {
      spurious_ = false;
      return WaitResult::kReceived;
    }
    return WaitResult::kWritable;
  }
  int LastError() const override { return lastError; }

 private:
  void Log(std::string call) { calls_.push_back(std::move(call)); }
  bool Known(Handle h) {
    if (devices_.count(h) != 0) return true;
    ++badHandles_;
    return false;
  }

  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::string> calls_;
  std::map<Handle, std::string> devices_;
  std::map<Handle, bool> wakers_;  // handle to woken
  Handle next_ = 3;
  std::vector<uint8_t> rx_;
  std::vector<uint8_t> written_;
  bool spurious_ = false;
  bool hungUp_ = false;
  uint32_t room_ = UINT32_MAX;
  size_t waits_ = 0;
  size_t badHandles_ = 0;
};

}  // namespace serial
