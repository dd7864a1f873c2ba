#pragma once
// Tells a lost port's owner that something it may be waiting for has changed: an entry made,
// removed, renamed into or re-permissioned in one of the watched folders (the ports folder,
// /dev). The owner polls Fd() beside its other waits and tries again when TakeChanged() says
// so, and also on a period of its own, as events can be missed (a folder that did not exist yet,
// a full event queue, no inotify at all).

#include <filesystem>
#include <vector>

namespace serial {

class ChangeWatch {
 public:
  // A folder that does not exist yet is watched through its nearest existing parent until it
  // appears.
  explicit ChangeWatch(std::vector<std::filesystem::path> folders);
  ~ChangeWatch();
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;

  // Readable when a change is waiting; -1 without inotify (the caller's period alone then).
  [[nodiscard]] int Fd() const { return fd_; }
  // True when anything changed since the last call; never blocks.
  [[nodiscard]] bool TakeChanged();

 private:
  void Arm();

  std::vector<std::filesystem::path> folders_;
  int fd_ = -1;
};

}  // namespace serial
