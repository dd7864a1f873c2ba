#include "settings/key_value.h"

#include <filesystem>
#include <fstream>

#include "files/folders.h"
#include "files/replace.h"

namespace settings {

std::string ConfigPath(const std::string& name) {
  const std::filesystem::path dir = files::ProgramFolder(files::Xdg::kConfig);
  return dir.empty() ? std::string() : (dir / name).string();
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

std::string Store(const std::string& path, const Values& values) {
  if (path.empty())
    return "no folder for the settings: neither HOME nor the user's entry names one";
  const std::filesystem::path target(path);
  if (const std::error_code ec = files::MakeFolders(target.parent_path()))
    return target.parent_path().string() + ": " + ec.message();
  std::string text;
  for (const auto& [key, value] : values) text += key + '=' + value + '\n';
  const std::string error = files::ReplaceFile(path, text);
  return error.empty() ? error : path + ": " + error;
}

}  // namespace settings
