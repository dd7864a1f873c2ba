#pragma once

#include "console/views.h"
#include "framework/dialog.h"

class CNibpApp : public CWinApp {
 public:
  // `views` makes the console's chart, results and Ports windows.
  CNibpApp(fw::Backend& ui, console::Views& views) : CWinApp(ui), views_(views) {}
  // Runs the console modally; FALSE, so the program ends with the window.
  BOOL InitInstance() override;

 private:
  console::Views& views_;
};
