#pragma once
// Small settings files: one "key=value" a line under $XDG_CONFIG_HOME/quirab_nibp/ (the folder
// files::ProgramFolder names). The one reader and writer of every settings file. A file that
// cannot be read gives no settings.

#include <map>
#include <string>

namespace settings {

using Values = std::map<std::string, std::string>;

// The file `name` in the program's configuration folder; empty when there is no such folder.
[[nodiscard]] std::string ConfigPath(const std::string& name);
// Lines without a key or without "=" are left out.
[[nodiscard]] Values Load(const std::string& path);
// Writes every value under a fresh temporary name beside the file, syncs it and renames it over,
// so that a crash leaves one whole file or the other; makes the folder (0700) when missing.
// Returns the empty string, or "PATH: reason".
[[nodiscard]] std::string Store(const std::string& path, const Values& values);
[[nodiscard]] inline bool Save(const std::string& path, const Values& values) {
  return Store(path, values).empty();
}

}  // namespace settings
