#include "serial/ports_dir.h"

#include "files/folders.h"

namespace serial {

std::filesystem::path PortsDir() {
  const std::filesystem::path base = files::ProgramFolder(files::Xdg::kConfig);
  return base.empty() ? base : base / "ports";
}

}  // namespace serial
