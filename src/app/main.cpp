#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/nibp_app.h"
#include "app/qt_views.h"
#include "framework/qt/qt_backend.h"
#include "program/program_info.h"

namespace {

constexpr const char kUsage[] =
    "Usage: QUIRAB_NIBP [OPTION]...\n"
    "Test console for a non-invasive blood-pressure module on a serial port (9600 8N1).\n"
    "\n"
    "      --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "\n"
    "Other options go to Qt (for example -platform offscreen).\n"
    "Port COMn opens $XDG_CONFIG_HOME/quirab_nibp/ports/COMn (~/.config when unset) when that\n"
    "entry exists, and /dev/ttyS(n-1) otherwise. See QUIRAB_NIBP(1).\n";

}  // namespace

int main(int argc, char** argv) {
  // Answered before anything needs a display.
  if (const auto request = program::FindInfoRequest(argc, argv);
      request != program::InfoRequest::kNone)
    return program::PrintInfo(request, "QUIRAB_NIBP", kUsage);
  bool platformGiven = false;  // "-platform NAME" picks Qt's platform itself
  for (int i = 1; i + 1 < argc; ++i) platformGiven |= std::string_view(argv[i]) == "-platform";
  if (!platformGiven && std::getenv("DISPLAY") == nullptr &&
      std::getenv("WAYLAND_DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr) {
    std::fprintf(
        stderr,
        "QUIRAB_NIBP: no display to open the window on (set DISPLAY, or run it under xvfb-run)\n");
    return 1;
  }
  fw::qt::QtBackend ui(argc, argv);
  QtViews views;
  CNibpApp app(ui, views);
  (void)app.InitInstance();
  return 0;
}
