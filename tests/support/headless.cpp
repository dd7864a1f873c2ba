#include "support/headless.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <stdexcept>

#include "records/record_format.h"

namespace fw::headless {

HeadlessWindow::HeadlessWindow(HeadlessBackend& backend, const res::DialogTemplate& tmpl,
                               WindowEvents& events)
    : backend_(backend), tmpl_(tmpl), events_(events) {
  backend_.windows_.push_back(this);
}

HeadlessWindow::~HeadlessWindow() {
  auto& w = backend_.windows_;
  w.erase(std::remove(w.begin(), w.end(), this), w.end());
}

HeadlessWindow::Ctl& HeadlessWindow::C(int id) {
  auto it = ctls_.find(id);
  if (it == ctls_.end()) throw std::out_of_range("no control " + std::to_string(id));
  return it->second;
}

const HeadlessWindow::Ctl& HeadlessWindow::C(int id) const {
  auto it = ctls_.find(id);
  if (it == ctls_.end()) throw std::out_of_range("no control " + std::to_string(id));
  return it->second;
}

bool HeadlessWindow::Create() {
  if (created_) return true;
  for (const auto& c : tmpl_.controls) {
    if (c.id == IDC_STATIC) continue;
    Ctl ctl;
    ctl.tmpl = &c;
    ctl.text = std::string(c.caption);
    ctl.visible = (c.style & res::kHidden) == 0;
    ctl.enabled = (c.style & res::kDisabled) == 0;
    ctls_.emplace(c.id, std::move(ctl));
  }
  for (const auto& item : tmpl_.initItems) C(item.controlId).lines.emplace_back(item.text);
  created_ = true;
  clientW_ = tmpl_.w * 7 / 4;
  clientH_ = tmpl_.h * 14 / 8;
  const BOOL setFocus = events_.OnBackendInit();
  if (setFocus && !ended_) {
    for (const auto& c : tmpl_.controls) {
      if ((c.style & res::kTabStop) && c.id != IDC_STATIC && C(c.id).visible && C(c.id).enabled) {
        focus_ = c.id;
        break;
      }
    }
  }
  return true;
}

INT_PTR HeadlessWindow::RunModal() {
  backend_.modalRuns_.push_back(tmpl_.id);
  if (!Create()) return -1;
  if (!ended_ && backend_.onModal) backend_.onModal(*this);
  if (!ended_) End(IDCANCEL);
  return endCode_;
}

void HeadlessWindow::End(INT_PTR code) {
  if (ended_) return;
  ended_ = true;
  endCode_ = code;
  timers_.clear();
  due_.clear();
}

void HeadlessWindow::SetText(int id, std::string_view text) {
  auto& c = C(id);
  c.text = std::string(text);
  if (c.tmpl->kind == res::Kind::ComboBox) {
    auto it = std::find(c.lines.begin(), c.lines.end(), c.text);
    c.curSel = it == c.lines.end() ? -1 : static_cast<int>(it - c.lines.begin());
  }
}

std::string HeadlessWindow::GetText(int id) const {
  return C(id).text;
}

int HeadlessWindow::GetCheck(int id) const {
  return C(id).check;
}

void HeadlessWindow::SetCheck(int id, int state) {
  C(id).check = state;
}

void HeadlessWindow::Enable(int id, bool enable) {
  C(id).enabled = enable;
}

bool HeadlessWindow::IsEnabled(int id) const {
  return C(id).enabled;
}

void HeadlessWindow::FocusControl(int id) {
  SetFocus(id);
  selectedAll_ = C(id).tmpl->kind == res::Kind::Edit ? id : 0;
}

int HeadlessWindow::ListAdd(int id, std::string_view line, int64_t timeMs) {
  auto& c = C(id);
  c.lines.emplace_back(line);
  c.times.push_back(timeMs);
  return static_cast<int>(c.lines.size()) - 1;
}

int HeadlessWindow::ListCount(int id) const {
  return static_cast<int>(C(id).lines.size());
}

std::string HeadlessWindow::ListText(int id, int index) const {
  const auto& c = C(id);
  return index >= 0 && index < static_cast<int>(c.lines.size()) ? c.lines[index] : std::string();
}

int64_t HeadlessWindow::ListTime(int id, int index) const {
  const auto& c = C(id);
  return index >= 0 && index < static_cast<int>(c.times.size()) ? c.times[index] : 0;
}

int HeadlessWindow::ListSetCurSel(int id, int index) {
  auto& c = C(id);
  if (index < -1 || index >= static_cast<int>(c.lines.size())) return LB_ERR;
  if (c.following) c.curSel = index;
  return index;
}

void HeadlessWindow::ListReset(int id) {
  auto& c = C(id);
  c.lines.clear();
  c.times.clear();
  c.curSel = c.selFrom = c.selTo = -1;
  c.following = true;
}

void HeadlessWindow::ListAppendMenu(int id, UINT flags, UINT itemId, std::string_view text) {
  C(id).menu.push_back(
      {flags, itemId, std::string(text), (flags & MF_CHECKED) != 0, (flags & MF_CHECKED) != 0});
}

std::string HeadlessWindow::Shown(int id, int index) const {
  const auto& c = C(id);
  return records::ShownLine(ListTime(id, index), ListText(id, index), c.showTimes);
}

void HeadlessWindow::SelectLines(int id, int from, int to) {
  auto& c = C(id);
  c.selFrom = std::min(from, to);
  c.selTo = std::max(from, to);
  c.following = false;
}

void HeadlessWindow::CopyLines(int id) {
  const auto& c = C(id);
  if (c.selFrom < 0) return;
  std::string text;
  for (int i = c.selFrom; i <= c.selTo && i < static_cast<int>(c.lines.size()); ++i) {
    text += Shown(id, i);
    text.push_back('\n');
  }
  backend_.clipboard = text;
}

void HeadlessWindow::PressEnd(int id) {
  auto& c = C(id);
  c.selFrom = c.selTo = -1;
  c.following = true;
  c.curSel = static_cast<int>(c.lines.size()) - 1;
}

void HeadlessWindow::ChooseListMenuItem(int id, UINT itemId) {
  for (const auto& item : C(id).menu) {
    if (item.id == itemId) {
      events_.OnBackendCommand(static_cast<int>(itemId), BN_CLICKED);
      return;
    }
  }
  throw std::out_of_range("no menu item " + std::to_string(itemId));
}

int HeadlessWindow::ComboAdd(int id, std::string_view item) {
  auto& c = C(id);
  c.lines.emplace_back(item);
  return static_cast<int>(c.lines.size()) - 1;
}

int HeadlessWindow::ComboSetCurSel(int id, int index) {
  auto& c = C(id);
  if (index < 0 || index >= static_cast<int>(c.lines.size())) {
    c.curSel = -1;
    c.text.clear();
    return CB_ERR;
  }
  c.curSel = index;
  c.text = c.lines[index];
  return index;
}

int HeadlessWindow::ComboGetCurSel(int id) const {
  return C(id).curSel;
}

void HeadlessWindow::SpinSetRange(int id, int lower, int upper) {
  auto& c = C(id);
  c.lower = lower;
  c.upper = upper;
  c.pos = std::clamp(c.pos, std::min(lower, upper), std::max(lower, upper));
}

void HeadlessWindow::SetTip(int id, std::string_view text) {
  C(id).tip = std::string(text);
}

const std::string& HeadlessWindow::HoverTip(int id) {
  if (!ended_) events_.OnBackendCommand(id, TTN_NEEDTEXT);
  return C(id).tip;
}

bool HeadlessWindow::SetTimer(UINT_PTR id, UINT elapseMs) {
  if (ended_) return false;
  timers_[id] = elapseMs;
  due_[id] = std::chrono::steady_clock::now() + std::chrono::milliseconds(elapseMs);
  ++timerSets_[id];
  return true;
}

bool HeadlessWindow::KillTimer(UINT_PTR id) {
  due_.erase(id);
  return timers_.erase(id) != 0;
}

int HeadlessWindow::MessageBox(std::string_view text, std::string_view title, UINT type) {
  return backend_.MessageBox(text, title, type);
}

bool HeadlessWindow::HasSystemMenu() const {
  return (tmpl_.style & res::kSysMenu) != 0;
}

void HeadlessWindow::AppendSystemMenu(UINT flags, UINT id, std::string_view text) {
  sysMenu_.push_back(
      {flags, id, std::string(text), (flags & MF_CHECKED) != 0, (flags & MF_CHECKED) != 0});
}

void HeadlessWindow::CheckMenuItem(UINT itemId, bool checked) {
  const auto check = [&](std::vector<SysMenuItem>& menu) {
    for (auto& item : menu) {
      if (item.id == itemId && (item.flags & MF_SEPARATOR) == 0) {
        item.checkable = true;
        item.checked = checked;
      }
    }
  };
  check(sysMenu_);
  for (auto& [id, c] : ctls_) check(c.menu);
}

std::string HeadlessWindow::SaveFileName(std::string_view title, std::string_view defaultPath) {
  backend_.saveDefaults_.emplace_back(defaultPath);
  return backend_.onSaveFileName ? backend_.onSaveFileName(title, defaultPath) : std::string();
}

void HeadlessWindow::SetIcon(HICON icon, bool big) {
  (big ? bigIcon_ : smallIcon_) = icon;
}

CRect HeadlessWindow::GetClientRect() const {
  return CRect{0, 0, clientW_, clientH_};
}

void HeadlessWindow::DrawIcon(int x, int y, HICON icon) {
  drawn_.push_back({x, y, icon});
}

void HeadlessWindow::WakeForPosted() {
  {
    std::lock_guard lock(wakeMu_);
    woken_ = true;
  }
  wakeCv_.notify_all();
}

bool HeadlessWindow::TakesFocusOnClick(const Ctl& c) const {
  switch (c.tmpl->kind) {
    case res::Kind::PushButton:
    case res::Kind::DefPushButton:
    case res::Kind::CheckBox:
    case res::Kind::Edit:
    case res::Kind::ComboBox:
    case res::Kind::ListBox:
      return true;
    default:
      return false;
  }
}

void HeadlessWindow::SetFocus(int id) {
  if (focus_ == id) return;
  const int old = focus_;
  focus_ = id;
  if (old != 0 && C(old).tmpl->kind == res::Kind::Edit) events_.OnBackendCommand(old, EN_KILLFOCUS);
}

void HeadlessWindow::Click(int id) {
  auto& c = C(id);
  if (!c.enabled || !c.visible) return;
  if (TakesFocusOnClick(c)) SetFocus(id);
  if (ended_) return;
  if (c.tmpl->kind == res::Kind::CheckBox && (c.tmpl->style & res::kAutoCheck)) {
    c.check = c.check ? 0 : 1;
  }
  events_.OnBackendCommand(id, BN_CLICKED);
}

void HeadlessWindow::Type(int id, std::string_view text) {
  SetFocus(id);
  C(id).text = std::string(text);
  selectedAll_ = 0;
  if (C(id).tmpl->kind == res::Kind::ComboBox && !ended_) {
    events_.OnBackendCommand(id, CBN_EDITCHANGE);
  }
}

void HeadlessWindow::SelectItem(int id, int index) {
  SetFocus(id);
  if (C(id).tmpl->kind == res::Kind::ListBox) {
    ListSetCurSel(id, index);
    events_.OnBackendCommand(id, LBN_SELCHANGE);
    return;
  }
  ComboSetCurSel(id, index);
  events_.OnBackendCommand(id, CBN_SELCHANGE);
}

int HeadlessWindow::BuddyOf(int spinId) const {
  // The buddy is the control that precedes the up-down in the template.
  int prev = 0;
  for (const auto& c : tmpl_.controls) {
    if (c.id == spinId) return prev;
    prev = c.id;
  }
  return 0;
}

void HeadlessWindow::Spin(int id, int direction) {
  auto& c = C(id);
  if (!c.enabled) return;
  const int lo = std::min(c.lower, c.upper), hi = std::max(c.lower, c.upper);
  const int buddy = BuddyOf(id);
  if (buddy != 0) {
    // The control takes its position from the buddy's number when that is one within range.
    const std::string& t = C(buddy).text;
    int v = 0;
    const char* b = t.data();
    const char* e = t.data() + t.size();
    while (b < e && std::isspace(static_cast<unsigned char>(*b))) ++b;
    auto [ptr, ec] = std::from_chars(b, e, v);
    if (ec == std::errc() && ptr == e && v >= lo && v <= hi) c.pos = v;
  }
  const NMUPDOWN nm{c.pos, direction < 0 ? -1 : 1};
  if (events_.OnBackendDeltaPos(id, nm) != 0) return;
  int next = c.pos + nm.iDelta;
  if (next > hi) next = (c.tmpl->style & res::kWrap) ? lo : hi;
  if (next < lo) next = (c.tmpl->style & res::kWrap) ? hi : lo;
  c.pos = next;
  if (buddy != 0 && (c.tmpl->style & res::kSetBuddyInt)) C(buddy).text = std::to_string(next);
}

void HeadlessWindow::PressEnter() {
  if (focus_ != 0) {
    const auto kind = C(focus_).tmpl->kind;
    if (kind == res::Kind::PushButton || kind == res::Kind::DefPushButton) {
      Click(focus_);
      return;
    }
  }
  // No default button in the template: Enter anywhere else is OK.
  for (const auto& c : tmpl_.controls) {
    if (c.kind == res::Kind::DefPushButton && c.id != IDC_STATIC) {
      Click(c.id);
      return;
    }
  }
  events_.OnBackendOk();
}

void HeadlessWindow::PressEscape() {
  events_.OnBackendCancel();
}

void HeadlessWindow::CloseBox() {
  events_.OnBackendClose();
}

bool HeadlessWindow::FireTimer(UINT_PTR id) {
  if (!TimerRunning(id)) return false;
  events_.OnBackendTimer(id);
  return true;
}

void HeadlessWindow::SysCommand(UINT id, LPARAM param) {
  events_.OnBackendSysCommand(id, param);
}

void HeadlessWindow::Paint() {
  events_.OnBackendPaint();
}

bool HeadlessWindow::PumpPosted(std::chrono::milliseconds timeout) {
  {
    std::unique_lock lock(wakeMu_);
    if (!wakeCv_.wait_for(lock, timeout, [&] { return woken_; })) return false;
    woken_ = false;
  }
  events_.OnBackendPosted();
  return true;
}

bool HeadlessWindow::RunUntil(const std::function<bool()>& done,
                              std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (done()) return true;
    const auto now = Clock::now();
    if (now >= deadline) return false;
    // Fire every timer that is due, each at most once per pass, as a message loop does.
    std::vector<UINT_PTR> dueNow;
    auto next = deadline;
    for (const auto& [id, when] : due_) {
      if (when <= now) {
        dueNow.push_back(id);
      } else {
        next = std::min(next, when);
      }
    }
    for (UINT_PTR id : dueNow) {
      auto it = due_.find(id);
      if (it == due_.end()) continue;  // killed by an earlier tick
      it->second = now + std::chrono::milliseconds(timers_[id]);
      events_.OnBackendTimer(id);
    }
    if (!dueNow.empty()) continue;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now);
    PumpPosted(std::max(wait, std::chrono::milliseconds(1)));
  }
}

void HeadlessWindow::RunFor(std::chrono::milliseconds duration) {
  RunUntil([] { return false; }, duration);
}

bool HeadlessWindow::Visible(int id) const {
  return C(id).visible;
}
const std::vector<std::string>& HeadlessWindow::Lines(int id) const {
  return C(id).lines;
}
int HeadlessWindow::CurSel(int id) const {
  return C(id).curSel;
}
const std::vector<std::string>& HeadlessWindow::Items(int id) const {
  return C(id).lines;
}
std::pair<int, int> HeadlessWindow::SpinRange(int id) const {
  return {C(id).lower, C(id).upper};
}

// ---- backend ----

std::unique_ptr<Window> HeadlessBackend::CreateWindow(const res::DialogTemplate& tmpl,
                                                      WindowEvents& events, Window* /*parent*/) {
  return std::make_unique<HeadlessWindow>(*this, tmpl, events);
}

int HeadlessBackend::MessageBox(std::string_view text, std::string_view title, UINT type) {
  boxes_.push_back({std::string(text), std::string(title), type});
  return IDOK;
}

bool HeadlessBackend::OpenFolder(const std::string& path) {
  opened_.push_back(path);
  return true;
}

int HeadlessBackend::GetSystemMetrics(int index) const {
  return (index == SM_CXICON || index == SM_CYICON) ? 32 : 0;
}

HeadlessWindow* HeadlessBackend::FindWindow(int templateId) const {
  for (auto* w : windows_) {
    if (w->Template().id == templateId) return w;
  }
  return nullptr;
}

}  // namespace fw::headless
