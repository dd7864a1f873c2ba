#pragma once
// The operating-system layer under CComm: a serial device opened by path and the few operations
// CComm performs on it, plus a wake object that ends a wait from another thread. PosixPlatform
// is the host's; tests replace it (fake_platform.h).

#include <cstdint>
#include <memory>
#include <string>

namespace serial {

// A descriptor handed out by a Platform. Never 0 by convention of this layer's users: the
// closed state is always kInvalidHandle.
using Handle = int;
inline constexpr Handle kInvalidHandle = -1;

// What went wrong, in the few classes callers care about (see StatusFromErrno).
enum class Status {
  kOk,
  kNotFound,     // no such device
  kBusy,         // opened by someone else
  kInUse,        // a terminal that is some session's controlling terminal (a shell's)
  kDenied,       // no permission
  kUnsupported,  // not a terminal, or a setting the device cannot do
  kWouldBlock,   // the output queue is full
  kGone,         // the device went away (hang-up, I/O error)
  kFailed,       // anything else
};

[[nodiscard]] const char* StatusName(Status s);

enum class Parity : uint8_t { kNone, kOdd, kEven };
enum class StopBits : uint8_t { kOne, kTwo };

struct LineSettings {
  uint32_t baudRate = 9600;
  uint8_t dataBits = 8;
  Parity parity = Parity::kNone;
  StopBits stopBits = StopBits::kOne;
  friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

enum class WaitResult {
  kReceived,  // characters are waiting
  kWritable,  // the device takes output again (asked for only with wantWrite)
  kWoken,     // Wake was called on the wake object
  kHangUp,    // the device reports hang-up or an error condition
  kFailed,    // the wait itself failed
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Opens the device for reading and writing, exclusively: a second opener gets kBusy. A
  // session's terminal is refused (kInUse) before anything of it is changed. `out` is
  // kInvalidHandle unless the result is kOk.
  [[nodiscard]] virtual Status Open(const std::string& path, Handle& out) = 0;
  // Raw mode with the given line, no flow control, DTR and RTS inactive; reads and writes never
  // block for long.
  [[nodiscard]] virtual Status Configure(Handle h, const LineSettings& line) = 0;
  // Empties both directions' queues.
  virtual Status Purge(Handle h) = 0;
  // Returns once what was written has gone out on the line.
  virtual Status Drain(Handle h) = 0;
  // Drops DTR. Devices without modem lines succeed.
  virtual Status ClearDtr(Handle h) = 0;
  [[nodiscard]] virtual Status BytesWaiting(Handle h, uint32_t& count) = 0;
  // Reads at most `max` bytes that are already waiting; never blocks.
  [[nodiscard]] virtual Status Read(Handle h, uint8_t* buf, uint32_t max, uint32_t& got) = 0;
  // Queues what the device takes without waiting; `written` may fall short of `count`.
  [[nodiscard]] virtual Status Write(Handle h, const uint8_t* buf, uint32_t count,
                                     uint32_t& written) = 0;
  // Puts back the line settings found at open, then closes.
  virtual Status Close(Handle h) = 0;

  // A wake object: once Wake has been called, every Wait on it returns kWoken at once until it
  // is reset or closed. Wake is safe from any thread.
  [[nodiscard]] virtual Status OpenWaker(Handle& out) = 0;
  virtual void Wake(Handle waker) = 0;
  virtual void ResetWaker(Handle waker) = 0;
  virtual Status CloseWaker(Handle waker) = 0;

  // Blocks until characters are waiting on `h`, the device hangs up, `waker` is woken, or (with
  // wantWrite) the device can take output.
  [[nodiscard]] virtual WaitResult Wait(Handle h, Handle waker, bool wantWrite) = 0;

  // The system's error number of the last call that failed on this thread.
  [[nodiscard]] virtual int LastError() const = 0;
};

// The host's serial devices (termios, flock, poll, eventfd).
[[nodiscard]] std::shared_ptr<Platform> MakePosixPlatform();

// errno to Status, in one place.
[[nodiscard]] Status StatusFromErrno(int err);

}  // namespace serial
