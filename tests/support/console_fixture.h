#pragma once
// The console created on the headless window system, as a test fixture.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "console/nibp_dlg.h"
#include "framework/headless/headless.h"
#include "res/resource.h"

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything in it.
struct TempFolder {
  std::filesystem::path path;
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nibp-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
};

struct HeadlessConsole : ::testing::Test {
  TempFolder home;  // sessions and settings of this console; outlives it
  fw::headless::HeadlessBackend ui;
  CNibpDlg dlg{ui};
  fw::headless::HeadlessWindow* w = nullptr;
  void SetUp() override {
    ASSERT_FALSE(home.path.empty());
    dlg.m_sessionsFolder = (home.path / "sessions").string();
    dlg.m_configFolder = (home.path / "config").string();
    ASSERT_TRUE(dlg.Create());
    w = ui.FindWindow(IDD_QUIRAB_NIBP_DIALOG);
    ASSERT_NE(w, nullptr);
  }
};

}  // namespace testsupport
