#include "app/nibp_app.h"

#include "console/nibp_dlg.h"

BOOL CNibpApp::InitInstance() {
  AfxEnableControlContainer();
  Enable3dControlsStatic();
  {
    CNibpDlg dlg(Ui());
    dlg.m_views = &views_;
    m_pMainWnd = &dlg;
    (void)dlg.DoModal();
    m_pMainWnd = nullptr;
  }
  return FALSE;
}
