#include "settings/key_value.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace settings {

std::string ConfigPath(const std::string& name) {
  std::filesystem::path dir;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    dir = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    dir = std::filesystem::path(home) / ".config";
  } else {
    dir = ".";
  }
  return (dir / "quirab_nibp" / name).string();
}

Values Load(const std::string& path) {
  Values out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

bool Save(const std::string& path, const Values& values) {
  std::error_code ec;
  const std::filesystem::path target(path);
  std::filesystem::create_directories(target.parent_path(), ec);
  const std::string temp = path + ".new";
  {
    std::ofstream out(temp, std::ios::trunc);
    for (const auto& [key, value] : values) out << key << '=' << value << '\n';
    out.flush();
    if (!out) return false;
  }
  std::filesystem::rename(temp, target, ec);
  return !ec;
}

}  // namespace settings
