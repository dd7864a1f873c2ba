#pragma once
// The simulator's plumbing: a pseudo-terminal that plays the serial line, the link that names it
// as a port, and the signals that end the program, each owning its descriptors.

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace sim {

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& o) noexcept : fd_(o.Release()) {}
  Fd& operator=(Fd&& o) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Close(); }

  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] bool valid() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, -1); }
  void Close();

 private:
  int fd_ = -1;
};

// One packet read from the master.
struct MasterInput {
  std::vector<uint8_t> data;
  bool flushed = false;  // the console purged what we had sent
  bool closed = false;   // nothing more will come
  [[nodiscard]] bool empty() const { return data.empty() && !flushed && !closed; }
};

// A pty pair, the slave raw at 9600 8N1. The master is non-blocking and in packet mode, so that
// the console's purges of the line show up; an fd to the slave stays open for the pair's whole
// life, so that the line does not hang up while no console has it open.
class Pty {
 public:
  // Throws std::system_error when the pair cannot be made.
  [[nodiscard]] static Pty Open();

  [[nodiscard]] int master() const { return master_.get(); }
  [[nodiscard]] const std::string& slavePath() const { return slavePath_; }

  // The next packet, in the order the console wrote and purged; empty when nothing waits.
  [[nodiscard]] MasterInput Read();
  // Bytes written, 0 when the line is full; -1 on a hard error.
  [[nodiscard]] long Write(std::span<const uint8_t> bytes);
  // Closes both ends: whoever holds the slave sees a hang-up.
  void HangUp();

  enum class Exclusive { kNo, kHeld, kReleased };
  // A console sets exclusive mode on the line and holds a lock on it while it has it open. One
  // killed outright leaves the mode set, and since our own descriptor keeps the line alive, every
  // later open would be refused: when the lock is free, the mode is cleared (kReleased).
  [[nodiscard]] Exclusive ReleaseAbandoned();

 private:
  Fd master_;
  Fd slave_;
  std::string slavePath_;
};

// What stands where a port's link goes.
struct PortEntry {
  enum Kind { kAbsent, kDangling, kPty, kOther, kNotALink } kind = kAbsent;
  std::string target;  // of a link
};
[[nodiscard]] PortEntry InspectPortEntry(const std::filesystem::path& link);

// A symbolic link ports/<name> to a device. Pointing it again moves it in one step; on
// destruction it is removed, or the link it replaced is put back, unless another program has
// pointed it elsewhere meanwhile. The target to put back is kept beside the link in
// .<name>.previous, locked while this program runs, so that a run that was killed is mended by
// the next one.
class PortLink {
 public:
  explicit PortLink(std::filesystem::path link) : link_(std::move(link)) {}
  PortLink(const PortLink&) = delete;
  PortLink& operator=(const PortLink&) = delete;
  ~PortLink() { Remove(); }

  // Puts back the mapping a killed run left beside the link, when the link is still that run's
  // (a pseudo-terminal, or gone). Returns the target put back, or nothing.
  [[nodiscard]] std::optional<std::string> RecoverAbandoned();
  // The target to restore at the end instead of removing the link; written beside it first.
  void RestoreAtEnd(std::string previous);  // throws std::system_error
  [[nodiscard]] bool restores() const { return !previous_.empty(); }
  void Point(const std::string& target);  // throws std::system_error
  void Remove();
  [[nodiscard]] const std::filesystem::path& path() const { return link_; }
  [[nodiscard]] std::filesystem::path SavedPath() const;

 private:
  void Link(const std::string& target);  // throws std::system_error

  std::filesystem::path link_;
  std::string target_;
  std::string previous_;
  Fd saved_;  // the saved target, locked
};

// SIGINT, SIGTERM and SIGHUP, blocked and delivered to a descriptor for poll.
class SignalFd {
 public:
  SignalFd();  // throws std::system_error
  ~SignalFd();
  SignalFd(const SignalFd&) = delete;
  SignalFd& operator=(const SignalFd&) = delete;

  [[nodiscard]] int get() const { return fd_.get(); }
  // The signal that arrived, or 0.
  [[nodiscard]] int Take();

 private:
  sigset_t old_{};
  Fd fd_;
};

}  // namespace sim
