#include "serial/ports_dir.h"

#include <cstdlib>

namespace serial {

std::filesystem::path PortsDir() {
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    base = std::filesystem::path(home) / ".config";
  } else {
    return {};
  }
  return base / "quirab_nibp" / "ports";
}

}  // namespace serial
