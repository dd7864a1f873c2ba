#pragma once
// The console created on the headless window system, as a test fixture.

#include <gtest/gtest.h>

#include "console/nibp_dlg.h"
#include "framework/headless/headless.h"
#include "res/resource.h"
#include "support/temp_folder.h"

namespace testsupport {

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
