#pragma once
// CComm: one numbered serial port at 8N1, its reader thread and the 1024-byte receive ring.

#include <atomic>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>

#include "serial/notify_target.h"
#include "serial/runtime_class.h"

namespace serial {
class Platform;
}

using BOOL = int;

inline constexpr uint32_t WM_COMM_RECEIVE = 0x0400 + 1;

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
  [[nodiscard]] BOOL OpenPort();
  BOOL WritePort(const uint8_t* bytes, uint32_t count);
  BOOL ClosePort();
  [[nodiscard]] BOOL HasRxData() const;
  [[nodiscard]] uint8_t GetRxByte();

  // The device a port number stands for, resolved on this host.
  [[nodiscard]] static std::string DeviceName(uint8_t port);  // "COM5", "TELNET"
  [[nodiscard]] static std::string DevicePath(uint8_t port);  // the path that is opened

  // The reader thread's procedure: -1 when `param` is not a CComm, 1 after the port closed.
  static int CommReaderThread(std::stop_token stop, CObject* param);

  [[nodiscard]] CommReaderStats ReaderStats() const;

  // Fields in declaration order. The owner reads m_bConnected and m_dwLastRead directly; the
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

 private:
  BOOL ConfigurePort();
  BOOL ReleasePort();
  // False when the device went away.
  bool ReadBlock(uint8_t* buffer, uint32_t maxCount, std::stop_token stop);
  int ReaderLoop(std::stop_token stop);

  struct Impl;
  std::unique_ptr<Impl> impl_;
  // The reader started by the last successful open; null while closed.
  std::unique_ptr<std::jthread> m_pReaderThread;
};
