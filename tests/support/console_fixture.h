#pragma once
// The console created on the headless window system over an in-memory serial layer, as a test
// fixture.

#include <gtest/gtest.h>

#include <memory>

#include "console/nibp_dlg.h"
#include "res/resource.h"
#include "support/fake_platform.h"
#include "support/headless.h"
#include "support/recording_views.h"
#include "support/temp_folder.h"

namespace testsupport {

struct HeadlessConsole : ::testing::Test {
  TempFolder home;  // sessions and settings of this console; outlives it
  std::shared_ptr<serial::FakePlatform> os = std::make_shared<serial::FakePlatform>();
  fw::headless::HeadlessBackend ui;
  RecordingViews views;
  CNibpDlg dlg{ui, os};
  fw::headless::HeadlessWindow* w = nullptr;
  void SetUp() override {
    ASSERT_FALSE(home.path.empty());
    dlg.m_views = &views;
    dlg.m_sessionsFolder = (home.path / "sessions").string();
    dlg.m_configFolder = (home.path / "config").string();
    ASSERT_TRUE(dlg.Create());
    w = ui.FindWindow(IDD_QUIRAB_NIBP_DIALOG);
    ASSERT_NE(w, nullptr);
  }
  // OPEN on the port chosen at start-up (COM1), as the user clicks it.
  void OpenPort() {
    w->Click(IDC_PORT_OPEN);
    ASSERT_EQ(dlg.m_comm.m_bConnected, 1);
  }
  // What the device received, from the start.
  [[nodiscard]] std::vector<uint8_t> Sent() const { return os->Written(); }
};

}  // namespace testsupport
