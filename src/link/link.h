#pragma once
// The one link to the module, for the console and nibp-cli alike: it opens the port, sends
// commands, takes what the reader stored, shows every frame once through the dispatch tick,
// notices a loss and opens the same port again, and reports each of these as a typed event.
//
// It works on the serial object and the receive core its owner holds (the console keeps them as
// its own members) and runs on the owner's thread only. Its two timers are the owner's: the
// console runs them as window timers, nibp-cli in its own loop; either calls the tick entries.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "link/event.h"
#include "protocol/frames.h"
#include "protocol/reply.h"
#include "serial/change_watch.h"
#include "serial/comm.h"
#include "serial/notify_target.h"

namespace modlink {

enum class Timer : uint8_t {
  kDispatch,  // shows what waits, every kDispatchMs while anything does
  kReopen,    // while lost: tries to open the same port again, on a change and every kReopenMs
};
inline constexpr uint32_t kDispatchMs = 20;
// While lost, a change in the ports folder or /dev wakes the retry; the period only catches what
// the watch misses. A host that cannot watch a descriptor retries every kReopenUnwatchedMs.
inline constexpr uint32_t kReopenMs = 2000;
inline constexpr uint32_t kReopenUnwatchedMs = 500;

// Runs the link's timers. Starting a running timer restarts it; the link never does that to
// the dispatch timer, which keeps its period while frames keep coming.
class TimerHost {
 public:
  virtual ~TimerHost() = default;
  virtual void StartTimer(Timer timer, uint32_t periodMs) = 0;
  virtual void StopTimer(Timer timer) = 0;
  // Ticks `timer` also whenever `fd` is readable, until called again with -1; false when the host
  // cannot watch descriptors.
  virtual bool WatchFd(Timer /*timer*/, int /*fd*/) { return false; }
};

class Link {
 public:
  // The owner's parts the link works on.
  struct Parts {
    CComm& comm;
    protocol::ReplyReceiver& rx;
    protocol::TxBuf& tx;  // the frame being sent
    std::string& txLine;  // its raw-log line
  };
  // Wall-clock ms, read once per event; without one the events carry 0 and the sinks stamp
  // them (the console stamps each log line on its own).
  using Clock = std::function<int64_t()>;

  Link(Parts parts, TimerHost& timers, Clock clock);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Every event goes to each sink in the order they were added.
  void AddSink(EventSink& sink) { sinks_.push_back(&sink); }
  // The path events name; empty: the device COMn stands for when it is opened.
  void SetDevicePath(std::string path) { devicePath_ = std::move(path); }

  // Opens COMn at 9600 8N1 with `target` told of what the reader stores; kPortOpen on success.
  [[nodiscard]] bool Open(uint8_t port, serial::NotifyTarget* target);
  // The user's close: the reader stops, what it stored is shown, a lost port stops retrying.
  // kPortClosed when the port was open or lost.
  void Close();
  // The last open failure, "/dev/ttyS3: No such file or directory".
  [[nodiscard]] const std::string& OpenFailure() const;

  // Builds the frame into the owner's buffer, sends it whole or not at all, and reports kSent or
  // kNotSent with the reason.
  SendResult Send(const commands::Request& request);
  // Sends the user's own bytes as they are, as Send does a command: kSent or kNotSent with `raw`
  // set and the event line "-- Sent N bytes --".
  SendResult SendBytes(std::span<const uint8_t> bytes);

  // The reader's notice that bytes wait: takes all of them at once.
  void OnReceive();
  // The reader's notice of a loss; a notice from a reader closed since does nothing.
  void OnLost();
  void OnTimer(Timer timer);

  [[nodiscard]] bool Connected() const { return comm_.m_bConnected == 1; }
  [[nodiscard]] bool Lost() const { return lost_; }
  [[nodiscard]] int Port() const { return port_; }
  // The path the last open went to.
  [[nodiscard]] const std::string& DevicePath() const { return openedPath_; }
  // The device the last open or reopen reached: the port link's target (/dev/ttyUSB0, not the
  // link), the path given, or the built-in device.
  [[nodiscard]] const std::string& Device() const { return reached_; }

 private:
  // Moves what the reader stored into the receive core; `rearm` asks for a notice of the next.
  void Take(bool rearm);
  void StartDispatch();
  void OnDispatchTick();
  void OnReopenTick();
  // Stops the reader and takes what it stored, then lets go of an unfinished frame.
  void ReleasePort();
  // The one place a lost port is tried again.
  [[nodiscard]] bool Reopen();
  void ShowWaiting();
  void StartReopen();
  void StopReopen();
  void Emit(Event& event);
  [[nodiscard]] Event PortEvent(EventKind kind) const;

  CComm& comm_;
  protocol::ReplyReceiver& rx_;
  protocol::TxBuf& tx_;
  std::string& txLine_;
  TimerHost& timers_;
  Clock clock_;
  std::vector<EventSink*> sinks_;
  std::string devicePath_;
  std::string openedPath_;
  std::string reached_;
  int port_ = 0;
  bool lost_ = false;
  bool dispatching_ = false;
  std::unique_ptr<serial::ChangeWatch> watch_;  // while lost: the folders the port appears in
  protocol::TickOutput tick_;
  std::vector<std::string> commandLines_;  // the event lines of the command being sent
  std::vector<uint8_t> rawBytes_;          // the user's own bytes being sent
};

}  // namespace modlink
