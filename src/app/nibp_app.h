#pragma once

#include "framework/dialog.h"

class CNibpApp : public CWinApp {
 public:
  using CWinApp::CWinApp;
  // Runs the console modally; FALSE, so the program ends with the window.
  BOOL InitInstance() override;
};
