// The serial layer on termios. Devices are opened non-blocking: reads only ever ask for what
// FIONREAD reports, and a write must never hold up the user-interface thread.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <utility>

#include "serial/platform.h"
#include "serial/terminal_in_use.h"

namespace serial {

const char* StatusName(Status s) {
  switch (s) {
    case Status::kOk:
      return "ok";
    case Status::kNotFound:
      return "not found";
    case Status::kBusy:
      return "busy";
    case Status::kInUse:
      return "in use";
    case Status::kDenied:
      return "denied";
    case Status::kUnsupported:
      return "unsupported";
    case Status::kWouldBlock:
      return "would block";
    case Status::kGone:
      return "gone";
    case Status::kFailed:
      return "failed";
  }
  return "?";
}

Status StatusFromErrno(int err) {
  switch (err) {
    case 0:
      return Status::kOk;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return Status::kNotFound;
    case EBUSY:
      return Status::kBusy;
    case EACCES:
    case EPERM:
    case EROFS:
      return Status::kDenied;
    case ENOTTY:
    case EINVAL:
      return Status::kUnsupported;
    case EAGAIN:
      return Status::kWouldBlock;
    case EIO:
    case EPIPE:
      return Status::kGone;
    default:
      return Status::kFailed;
  }
}

namespace {

// Closes on every early return of Open.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

bool SpeedFor(uint32_t baud, speed_t& out) {
  static constexpr std::pair<uint32_t, speed_t> kSpeeds[] = {
      {110, B110},       {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
      {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
      {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
  };
  for (const auto& [rate, speed] : kSpeeds) {
    if (rate == baud) {
      out = speed;
      return true;
    }
  }
  return false;
}

tcflag_t DataBitsFlag(uint8_t bits) {
  switch (bits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

// Per thread: the reader's failures must not overwrite what an open on the window's thread saw.
thread_local int tLastError = 0;

Status Errno() {
  tLastError = errno;
  return StatusFromErrno(errno);
}

class PosixPlatform final : public Platform {
 public:
  Status Open(const std::string& path, Handle& out) override {
    out = kInvalidHandle;
    // O_NONBLOCK also keeps open() from waiting for carrier on a real port.
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return Errno();
    if (::isatty(fd.get()) == 0) return Errno();
    // Somebody's shell: closed again untouched.
    if (TerminalInUse(fd.get())) {
      tLastError = EBUSY;
      return Status::kInUse;
    }
    termios found{};
    if (::tcgetattr(fd.get(), &found) != 0) return Errno();
    // TIOCEXCL turns away other users' opens but not root's; the lock turns away every
    // opener that takes it too, this program included.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK) return Errno();
      tLastError = EBUSY;
      return Status::kBusy;
    }
    if (::ioctl(fd.get(), TIOCEXCL) != 0) return Errno();
    out = fd.release();
    std::lock_guard lock(foundMu_);
    found_[out] = found;
    return Status::kOk;
  }

  Status Configure(Handle h, const LineSettings& line) override {
    speed_t speed{};
    if (!SpeedFor(line.baudRate, speed)) {
      tLastError = EINVAL;
      return Status::kUnsupported;
    }
    termios t{};
    if (::tcgetattr(h, &t) != 0) return Errno();
    ::cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= DataBitsFlag(line.dataBits) | CREAD | CLOCAL;
    if (line.parity != Parity::kNone) {
      t.c_cflag |= PARENB;
      t.c_iflag |= INPCK;
    }
    if (line.parity == Parity::kOdd) t.c_cflag |= PARODD;
    if (line.stopBits == StopBits::kTwo) t.c_cflag |= CSTOPB;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    // The counterpart of the 1000 ms read limit for a blocking read; ours never block.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 10;
    if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) return Errno();
    if (::tcsetattr(h, TCSANOW, &t) != 0) return Errno();
    // tcsetattr succeeds when any part applies: a speed the device refused shows on read-back.
    termios back{};
    if (::tcgetattr(h, &back) != 0) return Errno();
    if (::cfgetospeed(&back) != speed) {
      tLastError = EINVAL;
      return Status::kUnsupported;
    }
    // Hold DTR and RTS inactive; devices without modem lines (pseudo-terminals) say ENOTTY.
    const int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(h, TIOCMBIC, &lines);
    return Status::kOk;
  }

  Status Purge(Handle h) override { return ::tcflush(h, TCIOFLUSH) == 0 ? Status::kOk : Errno(); }

  Status Drain(Handle h) override {
    while (::tcdrain(h) != 0) {
      if (errno != EINTR) return Errno();
    }
    return Status::kOk;
  }

  Status ClearDtr(Handle h) override {
    const int dtr = TIOCM_DTR;
    if (::ioctl(h, TIOCMBIC, &dtr) == 0 || errno == ENOTTY || errno == EINVAL) return Status::kOk;
    return Errno();
  }

  Status BytesWaiting(Handle h, uint32_t& count) override {
    int n = 0;
    count = 0;
    if (::ioctl(h, FIONREAD, &n) != 0) return Errno();
    count = n > 0 ? static_cast<uint32_t>(n) : 0;
    return Status::kOk;
  }

  Status Read(Handle h, uint8_t* buf, uint32_t max, uint32_t& got) override {
    got = 0;
    for (;;) {
      const ssize_t r = ::read(h, buf, max);
      if (r > 0) {
        got = static_cast<uint32_t>(r);
        return Status::kOk;
      }
      if (r == 0) return max == 0 ? Status::kOk : Status::kGone;  // hung up
      if (errno == EINTR) continue;
      return errno == EAGAIN ? Status::kOk : Errno();
    }
  }

  Status Write(Handle h, const uint8_t* buf, uint32_t count, uint32_t& written) override {
    written = 0;
    for (;;) {
      const ssize_t r = ::write(h, buf, count);
      if (r >= 0) {
        written = static_cast<uint32_t>(r);
        return Status::kOk;
      }
      if (errno != EINTR) return Errno();
    }
  }

  Status Close(Handle h) override {
    {
      std::lock_guard lock(foundMu_);
      if (const auto it = found_.find(h); it != found_.end()) {
        // Fails on a device that went away, which then has nothing left to restore.
        (void)::tcsetattr(h, TCSANOW, &it->second);
        found_.erase(it);
      }
    }
    // The exclusive mark outlives this descriptor on a terminal that others keep open.
    (void)::ioctl(h, TIOCNXCL);
    return ::close(h) == 0 ? Status::kOk : Errno();
  }

  Status OpenWaker(Handle& out) override {
    out = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (out >= 0) return Status::kOk;
    out = kInvalidHandle;
    return Errno();
  }

  void Wake(Handle waker) override {
    const uint64_t one = 1;
    // Only full counters fail, and a full counter is awake anyway.
    (void)!::write(waker, &one, sizeof one);
  }

  void ResetWaker(Handle waker) override {
    uint64_t count = 0;
    (void)!::read(waker, &count, sizeof count);
  }

  Status CloseWaker(Handle waker) override { return ::close(waker) == 0 ? Status::kOk : Errno(); }

  WaitResult Wait(Handle h, Handle waker, bool wantWrite) override {
    // The waker stays woken until reset: a wake-up is never lost between two waits.
    const short events = static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0));
    pollfd fds[2] = {{waker, POLLIN, 0}, {h, events, 0}};
    while (::poll(fds, 2, -1) < 0) {
      if (errno != EINTR) {
        tLastError = errno;
        return WaitResult::kFailed;
      }
    }
    if ((fds[0].revents & POLLIN) != 0) return WaitResult::kWoken;
    if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return WaitResult::kHangUp;
    if ((fds[1].revents & POLLIN) != 0) return WaitResult::kReceived;
    if ((fds[1].revents & POLLOUT) != 0) return WaitResult::kWritable;
    return WaitResult::kFailed;
  }

  int LastError() const override { return tLastError; }

 private:
  // The line settings each open device had when it was opened.
  std::mutex foundMu_;
  std::map<Handle, termios> found_;
};

}  // namespace

std::shared_ptr<Platform> MakePosixPlatform() {
  return std::make_shared<PosixPlatform>();
}

}  // namespace serial
