#include "serial/terminal_in_use.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace serial {
namespace {

// The controlling terminal in /proc/PID/stat (the kernel's encoding of its device number), or
// 0 for none. Zombies are skipped: their session is gone once they are reaped.
unsigned long ControllingTty(const char* pid) {
  const std::string path = std::string("/proc/") + pid + "/stat";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char buf[512];
  const ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return 0;
  buf[n] = '\0';
  // The command name may hold anything, parentheses included: fields follow the last ')'.
  const char* p = std::strrchr(buf, ')');
  if (p == nullptr) return 0;
  char state = 0;
  long ppid = 0, pgrp = 0, session = 0;
  unsigned long ttyNr = 0;
  if (std::sscanf(p + 1, " %c %ld %ld %ld %lu", &state, &ppid, &pgrp, &session, &ttyNr) != 5)
    return 0;
  return state == 'Z' || state == 'X' ? 0 : ttyNr;
}

}  // namespace

bool TerminalInUse(int fd) {
  pid_t sid = 0;
  if (::ioctl(fd, TIOCGSID, &sid) == 0) return true;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned major = ::major(st.st_rdev);
  const unsigned minor = ::minor(st.st_rdev);
  const std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
  if (!proc) return false;
  while (const dirent* e = ::readdir(proc.get())) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    const unsigned long tty = ControllingTty(e->d_name);
    if (tty == 0) continue;
    const unsigned ttyMajor = (tty >> 8) & 0xfff;
    const unsigned ttyMinor = (tty & 0xff) | ((tty >> 12) & 0xfff00);
    if (ttyMajor == major && ttyMinor == minor) return true;
  }
  return false;
}

}  // namespace serial
