// What the console keeps beyond its window: the time of every line, the session file, saved
// logs, bad frames on request.

#include <gtest/gtest.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "console/nibp_dlg.h"
#include "res/resource.h"
#include "support/fake_platform.h"
#include "support/headless.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using fw::headless::HeadlessBackend;
using fw::headless::HeadlessWindow;
using records::Tag;
using Lines = std::vector<std::string>;

constexpr int64_t kStart = 1796635801000;  // 2026-12-07 09:30:01.000 UTC

struct Entry {
  int64_t ms;
  Tag tag;
  std::string text;
  bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Entry& e) {
  return os << e.ms << ' ' << static_cast<char>(e.tag) << ' ' << e.text;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Session : ::testing::Test {
  testsupport::TempFolder home;
  HeadlessBackend ui;
  std::shared_ptr<serial::FakePlatform> os = std::make_shared<serial::FakePlatform>();
  std::unique_ptr<CNibpDlg> dlg;
  HeadlessWindow* w = nullptr;
  int64_t now = kStart;

  void SetUp() override {
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    Start();
  }
  void TearDown() override {
    if (dlg) dlg->OnPortClose();
  }
  // A console with its sessions and settings under `home`; a tick of the clock per call.
  void Start(const std::function<void(CNibpDlg&)>& before = {}) {
    if (dlg) dlg->OnPortClose();
    dlg = std::make_unique<CNibpDlg>(ui, os);
    dlg->m_sessionsFolder = (home.path / "sessions").string();
    dlg->m_configFolder = (home.path / "config").string();
    dlg->m_clock = [this] { return now += 10; };
    if (before) before(*dlg);
    ASSERT_TRUE(dlg->Create());
    w = ui.Windows().back();
  }
  [[nodiscard]] std::vector<Entry> Recorded() const {
    dlg->Session()->Flush();
    std::vector<Entry> out;
    std::ifstream in(dlg->Session()->Path());
    for (std::string line; std::getline(in, line);) {
      const auto r = records::ParseRecord(line);
      EXPECT_TRUE(r.has_value()) << line;
      if (r) out.push_back({r->ms, r->tag, r->text});
    }
    return out;
  }
};

TEST_F(Session, EveryLineAndStatusIsRecordedWithTheTimeItsLogKeeps) {
  w->SelectItem(IDC_PORT_COMBO, 1);
  w->Click(IDC_PORT_OPEN);
  ASSERT_TRUE(dlg->m_comm.m_bConnected);
  w->Click(IDC_GET_PRESSURE);
  dlg->OnDiscarded(Tag::kBad, "PC <-- MODULE <3E><05><A0><00><00>");
  dlg->OnDiscarded(Tag::kDropped, "PC <-- MODULE <FF><FE>");
  w->Click(IDC_CLEAR_DISPLAY);  // the session keeps what the window forgets
  w->Click(IDC_ABORT_BP);
  w->Click(IDC_PORT_CLOSE);

  EXPECT_EQ(dlg->Session()->Path(), (home.path / "sessions" / "20261207-093001.session").string());
  const std::vector<Entry> expected = {
      {kStart + 30, Tag::kStatus, "COM1 OPEN"},
      {kStart + 40, Tag::kRaw, "PC --> MODULE <3A><79><05><00><48>"},
      {kStart + 50, Tag::kEvent, "-- Get Pressure --"},
      {kStart + 60, Tag::kBad, "PC <-- MODULE <3E><05><A0><00><00>"},
      {kStart + 70, Tag::kDropped, "PC <-- MODULE <FF><FE>"},
      {kStart + 80, Tag::kRaw, "PC --> MODULE <3A><79><01><00><4C>"},
      {kStart + 90, Tag::kEvent, "-- Abort BP --"},
      {kStart + 100, Tag::kStatus, "CLOSE"},
  };
  EXPECT_EQ(Recorded(), expected);
  // The logs keep the same times with their lines; the texts are as before.
  EXPECT_EQ(w->Lines(IDC_LIST_RAW), Lines{"PC --> MODULE <3A><79><01><00><4C>"});
  EXPECT_EQ(w->ListTime(IDC_LIST_RAW, 0), kStart + 80);
  EXPECT_EQ(w->ListTime(IDC_LIST_EVENT, 0), kStart + 90);
  w->ShowTimes(IDC_LIST_EVENT, true);
  EXPECT_EQ(w->Shown(IDC_LIST_EVENT, 0), "09:30:01.090 -- Abort BP --");

  // Lines selected to read back hold the log: new lines do not move it until End.
  w->SelectLines(IDC_LIST_EVENT, 0, 0);
  w->Click(IDC_GET_PRESSURE);
  EXPECT_EQ(w->CurSel(IDC_LIST_EVENT), 0);
  w->CopyLines(IDC_LIST_EVENT);
  EXPECT_EQ(ui.clipboard, "09:30:01.090 -- Abort BP --\n");
  w->PressEnd(IDC_LIST_EVENT);
  w->Click(IDC_GET_PRESSURE);
  EXPECT_EQ(w->CurSel(IDC_LIST_EVENT), w->ListCount(IDC_LIST_EVENT) - 1);
}

TEST_F(Session, BadFramesAreRecordedAlwaysAndShownInTheRawLogOnlyWhenAsked) {
  const auto item = [&] { return w->ListMenu(IDC_LIST_RAW).back(); };
  EXPECT_EQ(item().text, "Show Bad Frames");
  EXPECT_TRUE(item().checkable);
  EXPECT_FALSE(item().checked);
  const struct {
    bool shown;
    Tag tag;
    const char* line;
    const char* rawLog;  // null: nothing shown
  } cases[] = {
      {false, Tag::kBad, "PC <-- MODULE <3E><04><4B><00>", nullptr},
      {false, Tag::kDropped, "PC <-- MODULE <00>", nullptr},
      {true, Tag::kBad, "PC <-- MODULE <3E><04><4B><00>",
       "PC <-- MODULE <3E><04><4B><00> checksum error"},
      {true, Tag::kDropped, "PC <-- MODULE <00><3E>", "PC <-- MODULE <00><3E> dropped"},
      {false, Tag::kBad, "PC <-- MODULE <3E><04><4B><01>", nullptr},
  };
  std::vector<Tag> tags;
  for (const auto& c : cases) {
    if ((dlg->m_bShowBadFrames == 1) != c.shown)
      w->ChooseListMenuItem(IDC_LIST_RAW, ID_RAW_SHOW_BAD_FRAMES);
    EXPECT_EQ(item().checked, c.shown);
    const size_t before = w->Lines(IDC_LIST_RAW).size();
    dlg->OnDiscarded(c.tag, c.line);
    tags.push_back(c.tag);
    if (c.rawLog != nullptr) {
      EXPECT_EQ(w->Lines(IDC_LIST_RAW).back(), c.rawLog);
      tags.push_back(Tag::kRaw);  // what the raw log shows is recorded as ever
    } else {
      EXPECT_EQ(w->Lines(IDC_LIST_RAW).size(), before);
    }
  }
  std::vector<Tag> recorded;
  for (const auto& e : Recorded()) recorded.push_back(e.tag);
  EXPECT_EQ(recorded, tags);
}

TEST_F(Session, RecordSessionIsACheckItemWhoseChoiceOutlivesTheConsole) {
  const auto check = [&] {
    for (const auto& item : w->SystemMenu()) {
      if (item.id == IDM_RECORD_SESSION) return item;
    }
    return fw::headless::SysMenuItem{};
  };
  ASSERT_EQ(check().text, "Record Session");
  ASSERT_NE(dlg->Session(), nullptr);
  w->SysCommand(IDM_RECORD_SESSION);
  EXPECT_FALSE(check().checked);
  EXPECT_EQ(dlg->Session(), nullptr);
  w->Click(IDC_GET_PRESSURE);  // not recorded anywhere

  now += 60'000;
  Start();  // the next start keeps it off: no session file at all
  EXPECT_EQ(dlg->Session(), nullptr);
  EXPECT_FALSE(check().checked);
  w->SysCommand(IDM_RECORD_SESSION);
  EXPECT_TRUE(check().checked);
  ASSERT_NE(dlg->Session(), nullptr);
  w->Click(IDC_GET_BP_DATA);
  EXPECT_EQ(Recorded().size(), 2u);
  // The first file holds nothing from while recording was off.
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(home.path / "sessions")) {
    ++files;
    EXPECT_EQ(ReadAll(e.path()).find("Get Pressure"), std::string::npos);
  }
  EXPECT_EQ(files, 2u);

  w->SysCommand(IDM_OPEN_SESSIONS);
  EXPECT_EQ(ui.OpenedFolders(), Lines{(home.path / "sessions").string()});
}

TEST_F(Session, AFolderThatCannotBeWrittenOrAFullDiskIsSaidOnceAndTheConsoleGoesOn) {
  std::ofstream(home.path / "file") << "x";
  Start([&](CNibpDlg& d) { d.m_sessionsFolder = (home.path / "file" / "sessions").string(); });
  w->Click(IDC_PORT_OPEN);
  ASSERT_EQ(w->Lines(IDC_LIST_EVENT).size(), 1u);
  EXPECT_EQ(w->Lines(IDC_LIST_EVENT)[0].rfind("Recording stopped: ", 0), 0u);
  EXPECT_NE(w->Lines(IDC_LIST_EVENT)[0].find("Not a directory"), std::string::npos);
  w->Click(IDC_GET_PRESSURE);
  EXPECT_EQ(w->Lines(IDC_LIST_EVENT).back(), "-- Get Pressure --");

  // The disk fills under the writer thread: the window hears of it through its message queue.
  Start([](CNibpDlg& d) {
    d.m_sessionWrite = [](int, const void*, size_t) -> ssize_t {
      errno = ENOSPC;
      return -1;
    };
  });
  w->Click(IDC_PORT_OPEN);
  w->Click(IDC_GET_PRESSURE);
  const std::string stopped =
      "Recording stopped: " + dlg->Session()->Path() + ": No space left on device";
  ASSERT_TRUE(w->RunUntil([&] { return w->Lines(IDC_LIST_EVENT).back() == stopped; }, 5s));
  w->Click(IDC_GET_BP_DATA);
  w->RunFor(100ms);
  EXPECT_EQ(w->Lines(IDC_LIST_EVENT), (Lines{"-- Get Pressure --", stopped, "-- Get BP Data --"}));
}

TEST_F(Session, SaveAsWritesTheLogWithItsTimesWhereTheDialogSays) {
  w->Click(IDC_PORT_OPEN);
  w->Click(IDC_GET_PRESSURE);
  w->Click(IDC_ABORT_BP);
  const fs::path target = home.path / "saved.txt";
  std::string answer;
  ui.onSaveFileName = [&](std::string_view, std::string_view) { return answer; };

  w->ChooseListMenuItem(IDC_LIST_EVENT, ID_EVENT_SAVE_AS);  // cancelled
  EXPECT_FALSE(fs::exists(target));
  answer = target.string();
  w->ChooseListMenuItem(IDC_LIST_EVENT, ID_EVENT_SAVE_AS);
  EXPECT_EQ(ReadAll(target),
            "2026-12-07 09:30:01.050\t-- Get Pressure --\n"
            "2026-12-07 09:30:01.070\t-- Abort BP --\n");
  w->ChooseListMenuItem(IDC_LIST_RAW, ID_RAW_SAVE_AS);
  EXPECT_EQ(ReadAll(target),
            "2026-12-07 09:30:01.040\tPC --> MODULE <3A><79><05><00><48>\n"
            "2026-12-07 09:30:01.060\tPC --> MODULE <3A><79><01><00><4C>\n");
  const std::string homeDir = std::getenv("HOME") ? std::getenv("HOME") : "";
  ASSERT_EQ(ui.SaveDialogDefaults().size(), 3u);
  EXPECT_EQ(ui.SaveDialogDefaults()[0], homeDir + "/event-20261207-093001.txt");
  EXPECT_EQ(ui.SaveDialogDefaults()[2], homeDir + "/raw-20261207-093001.txt");
  EXPECT_TRUE(ui.MessageBoxes().empty());

  answer = (home.path / "missing" / "raw.txt").string();
  w->ChooseListMenuItem(IDC_LIST_RAW, ID_RAW_SAVE_AS);
  ASSERT_EQ(ui.MessageBoxes().size(), 1u);
  EXPECT_EQ(ui.MessageBoxes()[0].text, "Could not save " + answer + ":\nNo such file or directory");
}

}  // namespace
