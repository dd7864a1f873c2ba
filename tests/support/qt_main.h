#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "framework/qt/qt_backend.h"

#if defined(__SANITIZE_ADDRESS__)
#define NIBP_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NIBP_LEAK_CHECK 1
#endif
#endif
#if defined(NIBP_LEAK_CHECK)
#include <sanitizer/lsan_interface.h>
#endif

namespace testsupport {

// Whether a thread Qt detaches and ends with the application still runs: a pool's worker, or the
// window system's event reader.
inline bool EndingThreadsLive() {
  std::error_code ec;
  for (std::filesystem::directory_iterator it("/proc/self/task", ec), end; !ec && it != end;
       it.increment(ec)) {
    std::ifstream comm(it->path() / "comm");
    std::string name;
    if (std::getline(comm, name) && (name == "Thread (pooled)" || name == "QXcbEventQueue"))
      return true;
  }
  return false;
}

// The main of a test program with the one QApplication. The leak checker stops every thread and
// may crash on one that is tearing down. Some of Qt's threads are detached, and the application's
// end only tells them to finish: leaks are checked here once they are gone, not in exit, where
// other threads of Qt's end as its statics go.
inline int RunQtTests(int argc, char** argv, fw::qt::QtBackend*& ui) {
  ::testing::InitGoogleTest(&argc, argv);
  std::optional<fw::qt::QtBackend> app(std::in_place, argc, argv);
  ui = &*app;
  const int status = RUN_ALL_TESTS();
  app.reset();
  ui = nullptr;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (EndingThreadsLive() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
#if defined(NIBP_LEAK_CHECK)
  __lsan_do_leak_check();
#endif
  return status;
}

}  // namespace testsupport
