#pragma once

#include "framework/dialog.h"

class CAboutDlg : public CDialog {
 public:
  explicit CAboutDlg(fw::Backend& ui, CDialog* parent = nullptr);
};
