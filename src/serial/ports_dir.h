#pragma once
// The folder where the user maps port names to devices, shared by the serial layer and the
// tools that edit the mapping.

#include <filesystem>

namespace serial {

// ports in the configuration folder (files::ProgramFolder); empty when there is none.
[[nodiscard]] std::filesystem::path PortsDir();

}  // namespace serial
