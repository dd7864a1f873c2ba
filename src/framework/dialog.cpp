#include "framework/dialog.h"

#include <stdexcept>

#include "res/templates.h"

// ---- controls ----

void CWnd::Attach(fw::Window* window, int id) {
  window_ = window;
  id_ = id;
}

BOOL CWnd::EnableWindow(BOOL enable) {
  if (window_ == nullptr) return FALSE;
  const BOOL wasDisabled = window_->IsEnabled(id_) ? FALSE : TRUE;
  window_->Enable(id_, enable != FALSE);
  return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const {
  return window_ != nullptr && window_->IsEnabled(id_);
}

void CWnd::SetWindowText(std::string_view text) {
  if (window_ != nullptr) window_->SetText(id_, text);
}

void CWnd::SetTip(std::string_view text) {
  if (window_ != nullptr) window_->SetTip(id_, text);
}

std::string CWnd::GetWindowText() const {
  return window_ ? window_->GetText(GetDlgCtrlID()) : "";
}

int CListBox::AddString(std::string_view line, int64_t timeMs) {
  return W() ? W()->ListAdd(GetDlgCtrlID(), line, timeMs) : LB_ERR;
}
int CListBox::GetCount() const {
  return W() ? W()->ListCount(GetDlgCtrlID()) : LB_ERR;
}
std::string CListBox::GetText(int index) const {
  return W() ? W()->ListText(GetDlgCtrlID(), index) : std::string();
}
int64_t CListBox::GetTime(int index) const {
  return W() ? W()->ListTime(GetDlgCtrlID(), index) : 0;
}
void CListBox::AppendMenu(UINT flags, UINT itemId, std::string_view text) {
  if (W()) W()->ListAppendMenu(GetDlgCtrlID(), flags, itemId, text);
}
int CListBox::SetCurSel(int index) {
  return W() ? W()->ListSetCurSel(GetDlgCtrlID(), index) : LB_ERR;
}
int CListBox::GetCurSel() const {
  return W() ? W()->ListGetCurSel(GetDlgCtrlID()) : LB_ERR;
}
void CListBox::ResetContent() {
  if (W()) W()->ListReset(GetDlgCtrlID());
}

int CComboBox::AddString(std::string_view item) {
  return W() ? W()->ComboAdd(GetDlgCtrlID(), item) : CB_ERR;
}
int CComboBox::SetCurSel(int index) {
  return W() ? W()->ComboSetCurSel(GetDlgCtrlID(), index) : CB_ERR;
}
int CComboBox::GetCurSel() const {
  return W() ? W()->ComboGetCurSel(GetDlgCtrlID()) : CB_ERR;
}

void CSpinButtonCtrl::SetRange(int lower, int upper) {
  if (W()) W()->SpinSetRange(GetDlgCtrlID(), lower, upper);
}

BOOL CMenu::AppendMenu(UINT flags, UINT id, std::string_view text) {
  if (window_ == nullptr) return FALSE;
  window_->AppendSystemMenu(flags, id, text);
  return TRUE;
}

void CMenu::CheckMenuItem(UINT id, UINT check) {
  if (window_ != nullptr) window_->CheckMenuItem(id, (check & MF_CHECKED) != 0);
}

// ---- data exchange ----

namespace {
// Texts this long are always written, as the platform's own exchange does.
constexpr size_t kAlwaysReplaceLength = 256;
}  // namespace

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
  if (!control.IsAttached()) control.Attach(pDX->m_pDlgWnd->GetWindow(), id);
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value) {
  fw::Window* w = pDX->m_pDlgWnd->GetWindow();
  if (pDX->m_bSaveAndValidate) {
    value = w->GetText(id);
  } else if (value.size() >= kAlwaysReplaceLength || w->GetText(id) != value) {
    w->SetText(id, value);
  }
}

void DDX_Check(CDataExchange* pDX, int id, BOOL& value) {
  fw::Window* w = pDX->m_pDlgWnd->GetWindow();
  if (pDX->m_bSaveAndValidate) {
    value = w->GetCheck(id);
  } else {
    w->SetCheck(id, (value < 0 || value > 2) ? 0 : value);
  }
}

BOOL LoadResourceString(std::string& out, int id) {
  const auto s = res::LoadString(id);
  if (s.empty()) return FALSE;
  out.assign(s);
  return TRUE;
}

// ---- dialog ----

CDialog::CDialog(fw::Backend& ui, int templateId, CDialog* parent)
    : ui_(ui), templateId_(templateId), parent_(parent) {}

CDialog::~CDialog() {
  DestroyWindow();
}

bool CDialog::MakeWindow() {
  if (window_) return true;
  const auto* tmpl = res::FindDialog(templateId_);
  if (tmpl == nullptr) return false;
  window_ = ui_.CreateWindow(*tmpl, *this, parent_ ? parent_->GetWindow() : nullptr);
  if (!window_) return false;
  std::lock_guard lock(postMu_);
  accepting_ = true;
  return true;
}

void CDialog::DestroyWindow() {
  {
    // A window that is gone takes no more messages; senders still waiting get false.
    std::lock_guard lock(postMu_);
    accepting_ = false;
    posted_.clear();
  }
  postCv_.notify_all();
  if (!window_) return;
  for (auto& [id, item] : items_) item->Attach(nullptr, id);
  items_.clear();
  sysMenu_.reset();
  window_.reset();
}

INT_PTR CDialog::DoModal() {
  if (!MakeWindow()) return -1;
  const INT_PTR result = window_->RunModal();
  DestroyWindow();
  return result;
}

BOOL CDialog::Create() {
  if (!MakeWindow()) return FALSE;
  if (window_->IsCreated()) return TRUE;
  if (!window_->Create()) {
    DestroyWindow();
    return FALSE;
  }
  return TRUE;
}

void CDialog::EndDialog(int result) {
  if (window_) window_->End(result);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
  if (!window_) return FALSE;
  CDataExchange dx(this, bSaveAndValidate);
  DoDataExchange(&dx);
  return TRUE;
}

void CDialog::GotoDlgCtrl(int id) {
  if (window_) window_->FocusControl(id);
}

CWnd* CDialog::GetDlgItem(int id) {
  if (!window_) return nullptr;
  auto& item = items_[id];
  if (!item) {
    item = std::make_unique<CWnd>();
    item->Attach(window_.get(), id);
  }
  return item.get();
}

UINT_PTR CDialog::SetTimer(UINT_PTR id, UINT elapseMs, void* /*proc*/) {
  return (window_ && window_->SetTimer(id, elapseMs)) ? id : 0;
}

BOOL CDialog::KillTimer(UINT_PTR id) {
  return (window_ && window_->KillTimer(id)) ? TRUE : FALSE;
}

bool CDialog::WatchFd(UINT_PTR id, int fd) {
  return window_ && window_->WatchFd(id, fd);
}

int CDialog::AfxMessageBox(std::string_view text, UINT type) {
  constexpr UINT kIconMask = 0x00F0;
  if ((type & kIconMask) == 0) type |= MB_ICONEXCLAMATION;
  const std::string title = ui_.AppName();
  return window_ ? window_->MessageBox(text, title, type) : ui_.MessageBox(text, title, type);
}

CMenu* CDialog::GetSystemMenu(BOOL /*revert*/) {
  if (!window_ || !window_->HasSystemMenu()) return nullptr;
  if (!sysMenu_) sysMenu_ = std::make_unique<CMenu>(window_.get());
  return sysMenu_.get();
}

void CDialog::CheckMenuItem(UINT id, UINT check) {
  if (window_) window_->CheckMenuItem(id, (check & MF_CHECKED) != 0);
}

int CDialog::GetFocusId() const {
  return window_ ? window_->FocusedId() : 0;
}

std::string CDialog::GetSaveFileName(std::string_view title, std::string_view defaultPath) {
  return window_ ? window_->SaveFileName(title, defaultPath) : std::string();
}

HICON CDialog::SetIcon(HICON icon, BOOL big) {
  if (window_) window_->SetIcon(icon, big != FALSE);
  return icon;
}

BOOL CDialog::IsIconic() const {
  return window_ && window_->IsIconic();
}

void CDialog::GetClientRect(CRect* rect) const {
  *rect = window_ ? window_->GetClientRect() : CRect{};
}

int CDialog::GetSystemMetrics(int index) const {
  return ui_.GetSystemMetrics(index);
}

LRESULT CDialog::SendMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_ICONERASEBKGND) {
    if (window_) window_->EraseIconBackground();
    return 1;
  }
  auto it = messages_.find(msg);
  return it == messages_.end() ? 0 : it->second(wParam, lParam);
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() {
  EndDialog(IDCANCEL);
}

void CDialog::OnClose() {
  OnCancel();
}

void CDialog::OnSysCommand(UINT /*id*/, LPARAM /*param*/) {}

void CDialog::MapCommand(int id, UINT code, std::function<void()> handler) {
  commands_[{id, code}] = std::move(handler);
}

void CDialog::MapDeltaPos(int id, std::function<LRESULT(const NMUPDOWN&)> handler) {
  deltaPos_[id] = std::move(handler);
}

void CDialog::MapMessage(UINT msg, std::function<LRESULT(WPARAM, LPARAM)> handler) {
  messages_[msg] = std::move(handler);
}

BOOL CDialog::OnBackendInit() {
  // Items from the template's initialisation data come first, as the platform adds them
  // when the window is created.
  return OnInitDialog();
}

void CDialog::OnBackendCommand(int id, UINT code) {
  auto it = commands_.find({id, code});
  if (it != commands_.end()) {
    it->second();
  } else if (code == BN_CLICKED && id == IDOK) {
    OnOK();  // the framework's own routes for the OK and Cancel buttons
  } else if (code == BN_CLICKED && id == IDCANCEL) {
    OnCancel();
  }
}

LRESULT CDialog::OnBackendDeltaPos(int id, const NMUPDOWN& nm) {
  auto it = deltaPos_.find(id);
  return it == deltaPos_.end() ? 0 : it->second(nm);
}

void CDialog::OnBackendTimer(UINT_PTR id) {
  OnTimer(id);
}
void CDialog::OnBackendSysCommand(UINT id, LPARAM param) {
  OnSysCommand(id, param);
}
void CDialog::OnBackendPaint() {
  OnPaint();
}
void CDialog::OnBackendOk() {
  OnOK();
}
void CDialog::OnBackendCancel() {
  OnCancel();
}
void CDialog::OnBackendClose() {
  OnClose();
}

// ---- messages from other threads ----

bool CDialog::SendMessageSync(uint32_t msg, uintptr_t wParam, intptr_t lParam,
                              std::stop_token stop) {
  auto item = std::make_shared<Posted>(Posted{msg, wParam, lParam});
  std::unique_lock lock(postMu_);
  if (!accepting_) return false;
  posted_.push_back(item);
  // Woken under the lock, so the window cannot be destroyed in between.
  window_->WakeForPosted();
  postCv_.wait(lock, stop, [&] { return item->done || !accepting_; });
  return item->done;
}

void CDialog::PostNotify(uint32_t msg, uintptr_t wParam) {
  auto item = std::make_shared<Posted>(Posted{msg, wParam, 0});
  std::lock_guard lock(postMu_);
  if (!accepting_) return;
  // A queue that already holds messages has a wake-up on its way, or is being delivered.
  const bool wake = posted_.empty();
  posted_.push_back(std::move(item));
  if (wake) window_->WakeForPosted();
}

void CDialog::OnBackendPosted() {
  for (;;) {
    std::shared_ptr<Posted> item;
    {
      std::lock_guard lock(postMu_);
      if (posted_.empty() || delivering_) return;
      item = posted_.front();
      posted_.pop_front();
      delivering_ = true;
    }
    auto it = messages_.find(item->msg);
    if (it != messages_.end()) it->second(item->wParam, item->lParam);
    {
      std::lock_guard lock(postMu_);
      item->done = true;
      delivering_ = false;
    }
    postCv_.notify_all();
  }
}
