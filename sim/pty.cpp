#include "sim/pty.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "files/folders.h"
#include "files/replace.h"

namespace sim {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

Fd& Fd::operator=(Fd&& o) noexcept {
  if (this != &o) {
    Close();
    fd_ = o.Release();
  }
  return *this;
}

void Fd::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Pty Pty::Open() {
  Pty p;
  p.master_ = Fd(::posix_openpt(O_RDWR | O_NOCTTY));
  if (!p.master_.valid()) Fail("posix_openpt");
  const int m = p.master_.get();
  if (::grantpt(m) != 0 || ::unlockpt(m) != 0) Fail("unlocking the pty");
  if (::fcntl(m, F_SETFD, FD_CLOEXEC) != 0) Fail("fcntl");
  if (::fcntl(m, F_SETFL, ::fcntl(m, F_GETFL) | O_NONBLOCK) != 0) Fail("fcntl");
  int on = 1;
  if (::ioctl(m, TIOCPKT, &on) != 0) Fail("TIOCPKT");
  std::array<char, 128> name{};
  if (::ptsname_r(m, name.data(), name.size()) != 0) Fail("ptsname_r");
  p.slavePath_ = name.data();

  p.slave_ = Fd(::open(p.slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!p.slave_.valid()) Fail("opening " + p.slavePath_);
  // One set of line settings serves both ends. Raw, so that nothing is echoed or translated
  // until the console applies its own.
  termios t{};
  if (::tcgetattr(p.slave_.get(), &t) != 0) Fail("tcgetattr");
  ::cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (::cfsetispeed(&t, B9600) != 0 || ::cfsetospeed(&t, B9600) != 0) Fail("cfsetspeed");
  if (::tcsetattr(p.slave_.get(), TCSANOW, &t) != 0) Fail("tcsetattr");
  return p;
}

MasterInput Pty::Read() {
  MasterInput in;
  std::array<uint8_t, 4096> buf{};
  // In packet mode every read is one packet: a status byte, then data when the status is 0.
  while (master_.valid()) {
    const ssize_t n = ::read(master_.get(), buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    if (n <= 0) {  // EIO: no slave open any more
      in.closed = true;
      break;
    }
    if (buf[0] == TIOCPKT_DATA) {
      in.data.assign(buf.begin() + 1, buf.begin() + n);
    } else if (buf[0] & TIOCPKT_FLUSHREAD) {
      in.flushed = true;
    } else {
      continue;  // flow-control news: nothing for us
    }
    break;
  }
  return in;
}

long Pty::Write(std::span<const uint8_t> bytes) {
  while (true) {
    const ssize_t n = ::write(master_.get(), bytes.data(), bytes.size());
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    return errno == EAGAIN ? 0 : -1;
  }
}

void Pty::HangUp() {
  slave_.Close();
  master_.Close();
}

Pty::Exclusive Pty::ReleaseAbandoned() {
  int exclusive = 0;
  if (!slave_.valid() || ::ioctl(slave_.get(), TIOCGEXCL, &exclusive) != 0 || exclusive == 0)
    return Exclusive::kNo;
  // The console takes its lock before it sets the mode, so a set mode with a free lock has no
  // owner left. Asked only then, so that a console opening the line never meets our lock.
  if (::flock(slave_.get(), LOCK_EX | LOCK_NB) != 0) return Exclusive::kHeld;
  (void)::ioctl(slave_.get(), TIOCNXCL);
  (void)::flock(slave_.get(), LOCK_UN);
  return Exclusive::kReleased;
}

PortEntry InspectPortEntry(const std::filesystem::path& link) {
  struct stat st {};
  if (::lstat(link.c_str(), &st) != 0) return {};
  if (!S_ISLNK(st.st_mode)) return {PortEntry::kNotALink, {}};
  std::array<char, 4096> buf{};
  const ssize_t n = ::readlink(link.c_str(), buf.data(), buf.size() - 1);
  std::string target(buf.data(), static_cast<size_t>(std::max<ssize_t>(n, 0)));
  if (::stat(link.c_str(), &st) != 0) return {PortEntry::kDangling, std::move(target)};
  // Unix 98 pty slaves have majors 136 to 143.
  const bool pty = S_ISCHR(st.st_mode) && ::major(st.st_rdev) >= 136 && ::major(st.st_rdev) <= 143;
  return {pty ? PortEntry::kPty : PortEntry::kOther, std::move(target)};
}

std::filesystem::path PortLink::SavedPath() const {
  return link_.parent_path() / ("." + link_.filename().string() + ".previous");
}

std::optional<std::string> PortLink::RecoverAbandoned() {
  const std::filesystem::path saved = SavedPath();
  Fd fd(::open(saved.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  // Locked: the run that saved it is still going, and puts it back itself.
  if (!fd.valid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return std::nullopt;
  std::array<char, 4096> buf{};
  const ssize_t n = ::read(fd.get(), buf.data(), buf.size() - 1);
  std::string previous(buf.data(), static_cast<size_t>(std::max<ssize_t>(n, 0)));
  if (previous.ends_with('\n')) previous.pop_back();
  const PortEntry now = InspectPortEntry(link_);
  // A link the user has set again since is theirs: only a killed run's line is replaced.
  const bool ours = now.kind == PortEntry::kAbsent || now.kind == PortEntry::kPty ||
                    (now.kind == PortEntry::kDangling && now.target.starts_with("/dev/pts/"));
  std::optional<std::string> restored;
  if (ours && !previous.empty() && previous.find('\n') == std::string::npos) {
    try {
      Link(previous);
      restored = previous;
    } catch (const std::system_error& e) {
      std::fprintf(stderr, "nibp-sim: cannot put back %s -> %s: %s\n", link_.c_str(),
                   previous.c_str(), e.what());
    }
  }
  ::unlink(saved.c_str());
  return restored;
}

void PortLink::RestoreAtEnd(std::string previous) {
  const std::filesystem::path saved = SavedPath();
  if (const std::error_code ec = files::MakeFolders(link_.parent_path()))
    throw std::system_error(ec, "creating " + link_.parent_path().string());
  if (const std::string error = files::ReplaceFile(saved.string(), previous + "\n");
      !error.empty()) {
    throw std::system_error(EIO, std::generic_category(),
                            "keeping " + previous + " in " + saved.string() + ": " + error);
  }
  saved_ = Fd(::open(saved.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!saved_.valid()) Fail("opening " + saved.string());
  (void)::flock(saved_.get(), LOCK_EX | LOCK_NB);
  previous_ = std::move(previous);
}

void PortLink::Point(const std::string& target) {
  Link(target);
  target_ = target;
}

void PortLink::Link(const std::string& target) {
  if (const std::error_code ec = files::MakeFolders(link_.parent_path()))
    throw std::system_error(ec, "creating " + link_.parent_path().string());
  // Made beside the link and renamed over it, so that the name never points nowhere.
  const std::filesystem::path tmp =
      link_.parent_path() / ("." + link_.filename().string() + "." + std::to_string(::getpid()));
  ::unlink(tmp.c_str());
  if (::symlink(target.c_str(), tmp.c_str()) != 0) Fail("linking " + tmp.string());
  if (::rename(tmp.c_str(), link_.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    errno = err;
    Fail("renaming to " + link_.string());
  }
}

void PortLink::Remove() {
  if (!target_.empty()) {
    std::array<char, 4096> buf{};
    const ssize_t n = ::readlink(link_.c_str(), buf.data(), buf.size() - 1);
    if (n >= 0 && std::string(buf.data(), static_cast<size_t>(n)) == target_) {
      if (previous_.empty()) {
        ::unlink(link_.c_str());
      } else {
        try {
          Link(previous_);
        } catch (const std::system_error& e) {
          std::fprintf(stderr, "nibp-sim: cannot put back %s -> %s: %s\n", link_.c_str(),
                       previous_.c_str(), e.what());
          ::unlink(link_.c_str());  // better no link than one to a line that is gone
        }
      }
    }
    target_.clear();
  }
  if (saved_.valid()) {
    ::unlink(SavedPath().c_str());
    saved_.Close();
  }
}

SignalFd::SignalFd() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  if (::sigprocmask(SIG_BLOCK, &set, &old_) != 0) Fail("sigprocmask");
  fd_ = Fd(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
  if (!fd_.valid()) {
    const int err = errno;
    ::sigprocmask(SIG_SETMASK, &old_, nullptr);
    errno = err;
    Fail("signalfd");
  }
}

SignalFd::~SignalFd() {
  fd_.Close();
  ::sigprocmask(SIG_SETMASK, &old_, nullptr);
}

int SignalFd::Take() {
  signalfd_siginfo info{};
  const ssize_t n = ::read(fd_.get(), &info, sizeof info);
  return n == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo) : 0;
}

}  // namespace sim
