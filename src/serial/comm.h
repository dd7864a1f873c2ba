#pragma once
// CComm: one numbered serial port at 8N1, its reader thread, the 1024-byte receive ring and the
// 4096-byte output queue.
//
// Threads. The owner's thread (the window's) calls every public operation. The reader thread,
// started by OpenPort and joined by ClosePort, is the only writer of the receive ring's write
// position and of m_dwLastRead. The hand-over coalesces: the reader stores what it reads and
// posts WM_COMM_RECEIVE only when no earlier notice is still pending, so the owner is woken at
// most once per batch and takes everything waiting in one go (TakeRx). The ring's free space is
// the back-pressure: with the ring full the reader stops reading and posts a notice even while
// the owner holds them off. While held off, the reader waits 20 ms after each small read, so
// that a stream is read a few frames at a time; a flood is read as fast as it comes. When the
// device goes away the reader marks the port lost, drops what was queued for output, posts
// WM_COMM_LOST once and then waits for ClosePort. The output queue is shared under a lock: Send
// appends and writes what the device takes at once, the reader writes the rest as the device takes
// it. Nothing the owner calls ever waits for the device.

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <stop_token>
#include <string>
#include <thread>

#include "serial/base_types.h"
#include "serial/notify_target.h"
#include "serial/port_route.h"
#include "serial/runtime_class.h"

namespace serial {
class Platform;
enum class Status;
}  // namespace serial

// Bytes that may wait for the device; a command that does not fit whole is not sent at all.
inline constexpr uint32_t kOutputQueueSize = 4096;

enum class SendResult {
  kSent,    // on the line, or queued whole behind earlier bytes
  kClosed,  // the port is not open
  kLost,    // the device went away
  kFull,    // the output queue cannot take the whole command
};

// A transfer context: the file position of a transfer, always 0 on a serial line. Reads and
// writes here take no context of their own; the record is kept for the owner's inspection.
struct CommIoContext {
  uint32_t Offset = 0;
  uint32_t OffsetHigh = 0;
};

// What the reader thread has done, for tests that must tell idling from spinning.
struct CommReaderStats {
  uint64_t wakeups = 0;  // returns from the wait for received characters
  uint64_t reads = 0;    // read calls on the device
  bool idle = false;     // the device went away; the reader waits only for the close
};

class CComm : public CObject {
 public:
  static const CRuntimeClass classCComm;

  CComm();                                                     // the host's serial devices
  explicit CComm(std::shared_ptr<serial::Platform> platform);  // tests: a replaced OS layer
  ~CComm() override;                                           // closes an open port first
  CComm(const CComm&) = delete;
  CComm& operator=(const CComm&) = delete;

  [[nodiscard]] const CRuntimeClass* GetRuntimeClass() const override { return &classCComm; }

  void SetPortSettings(uint8_t port, uint32_t baudRate, uint8_t byteSize, uint8_t parity,
                       uint8_t stopBits);
  void SetNotifyWindow(serial::NotifyTarget* window);
  BOOL CreateIoEvents();
  // Opens the device the port number stands for now, and records the way it went.
  [[nodiscard]] BOOL OpenPort();
  // Opens again the way the last OpenPort went: through the same link wherever it points now, or
  // the same built-in device; a link that is gone fails, never falling back to the built-in
  // device. Without an earlier open of this port number, as OpenPort.
  [[nodiscard]] BOOL ReopenPort();
  // How the last open or reopen reached the device (the link and its target, or the path).
  [[nodiscard]] const serial::PortRoute& Opened() const;
  // Nonzero when Send says kSent.
  BOOL WritePort(const uint8_t* bytes, uint32_t count);
  // Puts the whole command on the line or behind the bytes already queued, or nothing.
  [[nodiscard]] SendResult Send(const uint8_t* bytes, uint32_t count);
  BOOL ClosePort();
  // The device went away while open; cleared by the next open.
  [[nodiscard]] bool IsLost() const;
  // True once after a loss that dropped queued output.
  [[nodiscard]] bool TakeOutputDroppedOnLoss();
  [[nodiscard]] uint32_t OutputQueued() const;
  // Waits, at most `limitMs`, until the output queue is written, then until the device has sent
  // it: a close purges what is still waiting. False when it did not all go out.
  bool DrainOutput(int limitMs);
  // Why the last open failed: "/dev/ttyS3: No such file or directory", "PATH: a terminal in use".
  [[nodiscard]] const std::string& OpenFailure() const { return m_strOpenFailure; }
  [[nodiscard]] BOOL HasRxData() const;
  [[nodiscard]] uint8_t GetRxByte();
  // Moves everything waiting in the receive ring (at most out.size() bytes) to `out` and returns
  // how many. `rearm`: the next block the reader stores is posted again; otherwise notices stay
  // held off, as the owner will come back by itself (HoldReceive).
  [[nodiscard]] uint32_t TakeRx(std::span<uint8_t> out, bool rearm);
  // No notices for stored blocks until TakeRx rearms them, except when the ring is full.
  void HoldReceive();

  // The device a port number stands for, resolved on this host.
  [[nodiscard]] static std::string DeviceName(uint8_t port);  // "COM5", "TELNET"
  [[nodiscard]] static std::string DevicePath(uint8_t port);  // the path that is opened

  // The reader thread's procedure: -1 when `param` is not a CComm, 1 after the port closed.
  static int CommReaderThread(std::stop_token stop, CObject* param);

  [[nodiscard]] CommReaderStats ReaderStats() const;

  // Fields in declaration order. The owner reads m_bConnected directly (m_dwLastRead, the size
  // of the last block read, is kept for inspection: a notice stands for all that waits); the
  // rest is the object's own, public as the owner's tests inspect it.
  int m_hComm = -1;  // -1 while closed: never a descriptor the process may reuse
  std::atomic<BOOL> m_bConnected{0};
  std::atomic<serial::NotifyTarget*> m_hNotifyWnd{nullptr};
  std::atomic<uint8_t> m_nPort{0};
  uint8_t m_nByteSize = 0;  // recorded only: the line is always 8N1
  uint8_t m_nStopBits = 0;
  uint8_t m_nParity = 0;
  uint32_t m_dwBaudRate = 0;
  CommIoContext m_osWrite;
  CommIoContext m_osRead;
  uint8_t m_rxRing[1024] = {};
  std::atomic<uint32_t> m_nRxRead{0};
  std::atomic<uint32_t> m_nRxWrite{0};
  std::atomic<uint32_t> m_dwLastRead{0};
  std::string m_strOpenFailure;

 private:
  BOOL OpenRoute();
  BOOL ConfigurePort();
  BOOL ReleasePort();
  // False when the device went away.
  bool ReadBlock(uint8_t* buffer, uint32_t maxCount, std::stop_token stop);
  // While notices are held off, lets bytes gather in the device for a moment before the next
  // read, so that a stream costs fewer wake-ups.
  void Gather(std::stop_token stop);
  // Waits until the ring has room, waking the owner to make it; false when stopped.
  bool WaitForRoom(std::stop_token stop);
  void Notify(uint32_t msg);
  // Writes what the device takes of the output queue; false when the device went away.
  bool FlushOutput();
  int ReaderLoop(std::stop_token stop);
  BOOL FailOpen(serial::Status why);
  void MarkLost(std::stop_token stop);

  struct Impl;
  std::unique_ptr<Impl> impl_;
  // The reader started by the last successful open; null while closed.
  std::unique_ptr<std::jthread> m_pReaderThread;
};
