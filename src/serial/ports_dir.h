#pragma once
// The folder where the user maps port names to devices, shared by the serial layer and the
// tools that edit the mapping.

#include <filesystem>

namespace serial {

// $XDG_CONFIG_HOME/quirab_nibp/ports, the base defaulting to ~/.config. Empty when neither
// variable gives an absolute path.
[[nodiscard]] std::filesystem::path PortsDir();

}  // namespace serial
