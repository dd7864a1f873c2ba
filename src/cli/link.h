#pragma once
// The command-line tool's side of the serial link: it opens the port, sends commands and logs
// them as the console does, runs what the reader hands over through the console's receive core,
// and takes a lost device back by opening it again every 500 ms. Everything here runs on the
// caller's thread except SendMessageSync and WaitIdle, which the reader calls.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/output.h"
#include "protocol/reply.h"
#include "serial/comm.h"
#include "serial/notify_target.h"
#include "serial/platform.h"

namespace cli {

inline constexpr std::chrono::milliseconds kReopenPeriod{500};

// The device to open: the console's COMn, or a path given outright (then `device` is set).
struct LinkTarget {
  uint8_t port = 1;
  std::string device;
};

class Link final : public serial::NotifyTarget {
 public:
  using SteadyClock = std::chrono::steady_clock;
  using EntryHandler = std::function<void(const protocol::ShownEntry&)>;

  Link(LinkTarget target, Output& out,
       std::shared_ptr<serial::Platform> platform = serial::MakePosixPlatform());
  ~Link() override;
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Opens the port; on failure FailureLine() says why.
  [[nodiscard]] bool Open();
  // "COM3: /dev/ttyS2: No such file or directory": the port, the device and the reason.
  [[nodiscard]] std::string FailureLine() const;
  [[nodiscard]] bool Lost() const { return lost_; }

  // Received frames are written as records (raw and event lines, bad frames and dropped bytes)
  // when `show`; each good frame also goes to the handler.
  void ShowReceived(bool show) { showReceived_ = show; }
  void OnEntry(EntryHandler handler) { onEntry_ = std::move(handler); }

  // How much of a send is written: everything the console logs (its raw line when it went out,
  // its event lines, the reason when it did not), the event lines only, or nothing.
  enum class Echo { kAll, kEvents, kNone };
  SendResult Send(std::span<const uint8_t> frame, const std::vector<std::string>& eventLines,
                  Echo echo = Echo::kAll);

  // Handles what the reader hands over, and reopens a lost device, until `until` or until `stop`
  // is set (checked at least every 100 ms, so a signal handler may set it).
  void RunUntil(SteadyClock::time_point until, const std::atomic<bool>& stop);
  // Makes the running RunUntil return once the current message is handled (from the handler).
  void ReturnEarly() { returnEarly_ = true; }

  // serial::NotifyTarget, called by the reader thread.
  [[nodiscard]] bool SendMessageSync(uint32_t msg, uintptr_t wParam, intptr_t lParam,
                                     std::stop_token stop) override;
  [[nodiscard]] bool WaitIdle(std::stop_token stop) override;

 private:
  struct Message {
    uint32_t msg;
    uint64_t id;
  };
  [[nodiscard]] std::string StateText(std::string_view state) const;
  [[nodiscard]] std::string DevicePath() const;
  void HandlePending();
  void OnReceive();
  void OnLost();
  void TryReopen();
  void ReleasePort();
  void ShowWaiting();

  LinkTarget target_;
  Output& out_;
  std::shared_ptr<serial::Platform> platform_;
  bool showReceived_ = true;
  EntryHandler onEntry_;
  bool lost_ = false;
  bool returnEarly_ = false;
  SteadyClock::time_point nextReopen_{};
  protocol::ReplyReceiver rx_;
  protocol::TickOutput tick_;

  // The hand-over from the reader: messages waiting, and how far the handled ones go.
  std::mutex mu_;
  std::condition_variable_any cv_;
  std::deque<Message> queue_;
  uint64_t posted_ = 0;
  uint64_t handled_ = 0;

  CComm comm_;  // last: its reader uses the members above until it is closed
};

}  // namespace cli
