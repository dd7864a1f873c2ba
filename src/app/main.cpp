#include <cstdio>
#include <cstdlib>

#include "app/nibp_app.h"
#include "framework/qt/qt_backend.h"

int main(int argc, char** argv) {
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
      std::getenv("QT_QPA_PLATFORM") == nullptr) {
    std::fprintf(stderr, "QUIRAB_NIBP: no display to open the window on (set DISPLAY, or run it under xvfb-run)\n");
    return 1;
  }
  fw::qt::QtBackend ui(argc, argv);
  CNibpApp app(ui);
  (void)app.InitInstance();
  return 0;
}
