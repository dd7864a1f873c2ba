#include "serial/port_route.h"

#include <algorithm>
#include <system_error>

#include "serial/ports_dir.h"

namespace serial {
namespace {

constexpr uint8_t kLastComPort = 200;

}  // namespace

PortRoute ResolvePort(uint8_t port) {
  namespace fs = std::filesystem;
  PortRoute route;
  route.port = port;
  const fs::path dir = PortsDir();
  if (dir.empty()) return route;
  const fs::path link = dir / ("COM" + std::to_string(port));
  std::error_code ec;
  if (fs::exists(fs::symlink_status(link, ec))) {
    route.via = PortRoute::Via::kLink;
    route.path = link.string();
  } else if (port >= 1 && port <= kLastComPort) {
    route.via = PortRoute::Via::kBuiltIn;
    route.path = "/dev/ttyS" + std::to_string(port - 1);
  } else {
    route.via = PortRoute::Via::kLink;
    route.path = (dir / "TELNET").string();
  }
  return route;
}

std::string LinkTarget(const std::string& link) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path target = fs::read_symlink(link, ec);
  if (ec) return {};
  if (target.is_absolute()) return target.lexically_normal().string();
  return (fs::path(link).parent_path() / target).lexically_normal().string();
}

std::vector<std::filesystem::path> WatchFolders(const PortRoute& route) {
  namespace fs = std::filesystem;
  std::vector<fs::path> folders;
  const auto add = [&](const fs::path& p) {
    if (!p.empty() && std::find(folders.begin(), folders.end(), p) == folders.end())
      folders.push_back(p);
  };
  add(fs::path(route.path).parent_path());
  add("/dev");
  add(fs::path(route.target).parent_path());
  return folders;
}

}  // namespace serial
