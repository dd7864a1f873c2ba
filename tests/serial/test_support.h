#pragma once
// What the serial suites share: a window that plays the user-interface thread's side of the
// hand-over, a pseudo-terminal pair, a ports folder, and waiting on a condition.

#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "serial/comm.h"
#include "serial/notify_target.h"

namespace serial_test {

using namespace std::chrono_literals;

template <typename Cond>
[[nodiscard]] bool WaitFor(Cond cond, std::chrono::milliseconds timeout = 10s) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Notices queue until the test, acting as the owner's thread, pumps them. The handler takes
// everything waiting in the ring, as the link does.
class TestWindow final : public serial::NotifyTarget {
 public:
  struct Notice {
    uintptr_t wParam;
    uint32_t count;
  };

  void Attach(CComm* comm) { comm_ = comm; }

  void PostNotify(uint32_t msg, uintptr_t wParam) override {
    std::lock_guard lock(mu_);
    if (gone_) return;
    queue_.push_back({msg, wParam});
    cv_.notify_all();
  }

  // Delivers one notice, waiting up to `timeout` for it to arrive.
  bool Pump(std::chrono::milliseconds timeout = 10s) {
    Item item{};
    {
      std::unique_lock lock(mu_);
      if (!cv_.wait_for(lock, timeout, [&] { return !queue_.empty(); })) return false;
      item = queue_.front();
      queue_.pop_front();
    }
    if (item.msg == WM_COMM_RECEIVE) {
      uint8_t buf[sizeof comm_->m_rxRing];
      const uint32_t count = comm_->TakeRx(buf, true);
      notices.push_back({item.wParam, count});
      blocks.emplace_back(buf, buf + count);
      received.insert(received.end(), buf, buf + count);
    } else if (item.msg == WM_COMM_LOST) {
      lost.push_back(item.wParam);
    }
    return true;
  }

  // Pumps until `n` bytes in all have been received.
  bool PumpUntil(size_t n) {
    while (received.size() < n) {
      if (!Pump()) return false;
    }
    return received.size() == n;
  }

  [[nodiscard]] size_t Queued() {
    std::lock_guard lock(mu_);
    return queue_.size();
  }

  // The window goes away: queued messages are dropped and senders released.
  void Destroy() {
    {
      std::lock_guard lock(mu_);
      gone_ = true;
      queue_.clear();
    }
    cv_.notify_all();
  }

  std::vector<Notice> notices;
  std::vector<std::vector<uint8_t>> blocks;  // as each handler took them
  std::vector<uint8_t> received;
  std::vector<uintptr_t> lost;  // WM_COMM_LOST, by port number

 private:
  struct Item {
    uint32_t msg;
    uintptr_t wParam;
  };
  CComm* comm_ = nullptr;
  std::mutex mu_;
  std::condition_variable_any cv_;
  std::deque<Item> queue_;
  bool gone_ = false;
};

// A temporary $XDG_CONFIG_HOME with the ports folder; restores the variable afterwards.
class PortsDir {
 public:
  PortsDir() {
    char tmpl[] = "/tmp/nibp_serial_XXXXXX";
    root_ = ::mkdtemp(tmpl);
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) old_ = old;
    ::setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
    std::filesystem::create_directories(Ports());
  }
  ~PortsDir() {
    if (old_) {
      ::setenv("XDG_CONFIG_HOME", old_->c_str(), 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  PortsDir(const PortsDir&) = delete;
  PortsDir& operator=(const PortsDir&) = delete;

  [[nodiscard]] std::filesystem::path Ports() const { return root_ / "quirab_nibp" / "ports"; }
  // Points `name` (COM5, TELNET) at `target`, replacing an earlier link.
  void Link(const std::string& name, const std::string& target) const {
    std::error_code ec;
    std::filesystem::remove(Ports() / name, ec);
    std::filesystem::create_symlink(target, Ports() / name);
  }

 private:
  std::filesystem::path root_;
  std::optional<std::string> old_;
};

}  // namespace serial_test
