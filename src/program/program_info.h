#pragma once
// What every program of the product answers to --help and --version, in the GNU form, without
// touching a display or a device first.

#include <string>
#include <string_view>

namespace program {

// "1.0.0.1", from the version resource.
[[nodiscard]] std::string Version();

// "nibp-sim (QUIRAB_NIBP) 1.0.0.1" and a line end; the product itself gives "QUIRAB_NIBP 1.0.0.1".
[[nodiscard]] std::string VersionText(std::string_view program);

enum class InfoRequest { kNone, kHelp, kVersion };

// The first of --help and --version before a "--", for programs whose other options are parsed
// by someone else (the console's belong to Qt).
[[nodiscard]] InfoRequest FindInfoRequest(int argc, const char* const* argv);

// Writes the usage text or the version to stdout; 0, or 1 with a message when stdout fails.
[[nodiscard]] int PrintInfo(InfoRequest request, std::string_view program, std::string_view usage);

}  // namespace program
