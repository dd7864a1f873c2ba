#pragma once
// nibp-cli's message pump around the module link: it posts the reader's notices to the caller's
// thread, runs the link's two timers in its own loop, and writes the link's events as records
// the way the console logs them. Everything here runs on the caller's thread except PostNotify,
// which the reader calls.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "cli/output.h"
#include "commands/commands.h"
#include "link/link.h"
#include "protocol/reply.h"
#include "serial/comm.h"
#include "serial/notify_target.h"
#include "serial/platform.h"

namespace cli {

// The device to open: the console's COMn, or a path given outright (then `device` is set).
struct LinkTarget {
  uint8_t port = 1;
  std::string device;
};

class Link final : public serial::NotifyTarget,
                   private modlink::TimerHost,
                   private modlink::EventSink {
 public:
  using SteadyClock = std::chrono::steady_clock;
  // Each frame received whole and good, as the link reports it.
  using FrameHandler = std::function<void(const modlink::Event&)>;

  Link(LinkTarget target, Output& out,
       std::shared_ptr<serial::Platform> platform = serial::MakePosixPlatform());
  ~Link() override;
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Opens the port; on failure FailureLine() says why.
  [[nodiscard]] bool Open();
  // "COM3: /dev/ttyS2: No such file or directory": the port, the device and the reason. A port
  // that was open is named by the device that was opened.
  [[nodiscard]] std::string FailureLine() const;
  [[nodiscard]] bool Lost() const { return link_.Lost(); }

  // Received frames are written as records (raw and event lines, bad frames and dropped bytes)
  // when `show`; each good frame also goes to the handler.
  void ShowReceived(bool show) { showReceived_ = show; }
  void OnFrame(FrameHandler handler) { onFrame_ = std::move(handler); }

  // How much of a send is written: everything the console logs (its raw line when it went out,
  // its event lines, the reason when it did not), the event lines only, or nothing.
  enum class Echo { kAll, kEvents, kNone };
  SendResult Send(const commands::Request& request, Echo echo = Echo::kAll);

  // Handles the reader's notices and the link's timers until `until`, until `stop` is set
  // (checked at least every 100 ms, so a signal handler may set it) or until a write to the
  // output failed.
  void RunUntil(SteadyClock::time_point until, const std::atomic<int>& stop);
  // Makes the running RunUntil return once the current event is handled (from the handler).
  void ReturnEarly() { returnEarly_ = true; }

  // For a driver that sends on the module link itself (the checks): how its sends are echoed,
  // with the cuff pressure polls left out, and where every event goes besides the records.
  void SetEcho(Echo echo) { echo_ = echo; }
  void QuietPolls(bool quiet) { quietPolls_ = quiet; }
  void Forward(modlink::EventSink* sink) { forward_ = sink; }
  [[nodiscard]] modlink::Link& Module() { return link_; }

  // serial::NotifyTarget, called by the reader thread.
  void PostNotify(uint32_t msg, uintptr_t wParam) override;

 private:
  void StartTimer(modlink::Timer timer, uint32_t periodMs) override;
  void StopTimer(modlink::Timer timer) override;
  void OnEvent(const modlink::Event& event) override;
  void RecordEvent(const modlink::Event& event);
  [[nodiscard]] std::string StateText(std::string_view state) const;
  void HandlePending();
  // Runs a timer that is due; false when none was.
  bool RunDueTimer(SteadyClock::time_point now);

  struct Due {
    std::optional<SteadyClock::time_point> next;
    SteadyClock::duration period{};
  };

  LinkTarget target_;
  Output& out_;
  std::shared_ptr<serial::Platform> platform_;
  bool showReceived_ = true;
  FrameHandler onFrame_;
  bool returnEarly_ = false;
  Echo echo_ = Echo::kAll;
  bool quietPolls_ = false;
  modlink::EventSink* forward_ = nullptr;
  Due dispatch_;
  Due reopen_;

  // The reader's notices, waiting for the pump.
  std::mutex mu_;
  std::condition_variable cv_;
  bool receivePending_ = false;
  bool lostPending_ = false;

  // The link's parts; the link is last, so that it closes the port before the rest goes.
  CComm comm_;
  protocol::ReplyReceiver rx_;
  protocol::TxBuf tx_{};
  std::string txLine_;
  modlink::Link link_;
};

}  // namespace cli
