#include "files/folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace files {
namespace {

std::filesystem::path Absolute(const char* value) {
  return value != nullptr && value[0] == '/' ? std::filesystem::path(value)
                                             : std::filesystem::path();
}

}  // namespace

std::filesystem::path HomeFolder() {
  if (auto home = Absolute(std::getenv("HOME")); !home.empty()) return home;
  // getpwuid_r: another thread may be asking the database too.
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) != 0 || found == nullptr)
    return {};
  return Absolute(found->pw_dir);
}

std::filesystem::path ProgramFolder(Xdg which) {
  const bool config = which == Xdg::kConfig;
  std::filesystem::path base = Absolute(std::getenv(config ? "XDG_CONFIG_HOME" : "XDG_STATE_HOME"));
  if (base.empty()) {
    const std::filesystem::path home = HomeFolder();
    if (home.empty()) return {};
    base = config ? home / ".config" : home / ".local" / "state";
  }
  return base / "quirab_nibp";
}

std::error_code MakeFolders(const std::filesystem::path& path) {
  if (path.empty()) return std::make_error_code(std::errc::no_such_file_or_directory);
  std::filesystem::path at;
  for (const auto& part : path) {
    at /= part;
    if (::mkdir(at.c_str(), 0700) == 0) continue;
    const int err = errno;
    struct stat st {};
    if (err == EEXIST && ::stat(at.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    return {err == EEXIST ? ENOTDIR : err, std::generic_category()};
  }
  return {};
}

mode_t NewFileMode() {
  // Read, not set and reset: umask(2) would change it for every thread for a moment.
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Umask:", 0) == 0) {
      return static_cast<mode_t>(0666 & ~std::strtoul(line.c_str() + 6, nullptr, 8));
    }
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace files
