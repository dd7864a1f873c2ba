#pragma once
// Where the programs keep their files, and how they make folders: one rule for every program.

#include <sys/types.h>

#include <filesystem>
#include <system_error>

namespace files {

enum class Xdg { kConfig, kState };

// quirab_nibp under $XDG_CONFIG_HOME or $XDG_STATE_HOME. A value that is not an absolute path
// counts as unset: then ~/.config or ~/.local/state, home being HOME when that is absolute, else
// the user's entry in the password database. Empty when none of these gives an absolute path.
[[nodiscard]] std::filesystem::path ProgramFolder(Xdg which);

// The user's home folder: HOME when it is an absolute path, else the password database's entry;
// empty when neither gives one.
[[nodiscard]] std::filesystem::path HomeFolder();

// Creates `path` and its missing parents, each new one 0700: what the programs keep is the
// user's alone. Folders that exist already keep their mode.
[[nodiscard]] std::error_code MakeFolders(const std::filesystem::path& path);

// The mode a new file gets: 0666 less the process's umask.
[[nodiscard]] mode_t NewFileMode();

}  // namespace files
