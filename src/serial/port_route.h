#pragma once
// How a port number reaches a device: through its link in the ports folder, or the built-in
// device. An open records the way it went so that a reopen after a loss goes the same way.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace serial {

struct PortRoute {
  enum class Via : uint8_t {
    kNone,     // never opened
    kLink,     // the link in the ports folder, wherever it points at the time
    kBuiltIn,  // the built-in device (/dev/ttyS(n-1))
  };
  Via via = Via::kNone;
  uint8_t port = 0;
  std::string path;    // what is opened: the link, or the built-in device
  std::string target;  // where the link pointed at the last open, made absolute

  // The device that was reached: the link's target when known, else the path.
  [[nodiscard]] const std::string& Device() const { return target.empty() ? path : target; }
};

// A link under the ports folder wins, dangling or not: a mapped adapter that is unplugged must
// fail to open rather than fall through to another port. Unmapped COMn is /dev/ttyS(n-1), and
// above COM200 the one TELNET link. Without a ports folder the path is empty (nothing opens).
[[nodiscard]] PortRoute ResolvePort(uint8_t port);

// Where `link` points now, made absolute against its folder; empty when it is no link.
[[nodiscard]] std::string LinkTarget(const std::string& link);

// The folders whose changes may bring a lost port back: the ports folder, /dev, and the folder
// of the device the link last reached (/dev/pts, /dev/serial/by-id).
[[nodiscard]] std::vector<std::filesystem::path> WatchFolders(const PortRoute& route);

}  // namespace serial
