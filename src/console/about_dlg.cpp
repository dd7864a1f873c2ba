#include "console/about_dlg.h"

#include "res/resource.h"

CAboutDlg::CAboutDlg(fw::Backend& ui, CDialog* parent) : CDialog(ui, IDD_ABOUTBOX, parent) {}
