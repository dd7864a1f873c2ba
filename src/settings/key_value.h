#pragma once
// Small settings files: one "key=value" a line under $XDG_CONFIG_HOME/quirab_nibp/
// (~/.config when the variable is unset). A file that cannot be read gives no settings.

#include <map>
#include <string>

namespace settings {

using Values = std::map<std::string, std::string>;

// The file `name` in the program's configuration folder.
[[nodiscard]] std::string ConfigPath(const std::string& name);
[[nodiscard]] Values Load(const std::string& path);
// Writes a new file beside the old one and renames it over, so a crash leaves one or the other.
[[nodiscard]] bool Save(const std::string& path, const Values& values);

}  // namespace settings
