#include "serial/change_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace serial {
namespace {

// Links made, removed, replaced by a rename, or given new permissions (a device node that udev
// opens up after creating it); a watched folder removed or renamed.
constexpr uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ATTRIB |
                             IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

ChangeWatch::ChangeWatch(std::vector<std::filesystem::path> folders)
    : folders_(std::move(folders)), fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
  Arm();
}

ChangeWatch::~ChangeWatch() {
  if (fd_ >= 0) ::close(fd_);
}

// Adding a folder that is watched already only refreshes its watch, so this may run again.
void ChangeWatch::Arm() {
  if (fd_ < 0) return;
  for (std::filesystem::path p : folders_) {
    while (!p.empty() && ::inotify_add_watch(fd_, p.c_str(), kEvents) < 0) {
      const std::filesystem::path parent = p.parent_path();
      if (parent == p) break;
      p = parent;
    }
  }
}

bool ChangeWatch::TakeChanged() {
  if (fd_ < 0) return false;
  bool changed = false;
  alignas(inotify_event) char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n > 0) {
      changed = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  // A folder that was missing may exist now; one that was replaced needs its watch again.
  if (changed) Arm();
  return changed;
}

}  // namespace serial
