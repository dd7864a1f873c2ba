#include "records/session.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "files/folders.h"
#include "settings/key_value.h"

namespace records {

std::string SessionsFolder() {
  const std::filesystem::path base = files::ProgramFolder(files::Xdg::kState);
  return base.empty() ? std::string() : (base / "sessions").string();
}

std::string ConfigFolder() {
  return files::ProgramFolder(files::Xdg::kConfig).string();
}

std::string MakeFolders(const std::string& path) {
  const std::error_code ec = files::MakeFolders(path);
  return ec ? path + ": " + ec.message() : std::string();
}

int RemoveOldSessions(const std::string& folder, int64_t nowMs, int64_t keepMs) {
  namespace fs = std::filesystem;
  struct Found {
    int64_t written;
    fs::path path;
  };
  std::vector<Found> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    if (p.extension() != ".session") continue;
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    found.push_back(
        {static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1'000'000, p});
  }
  // The newest stay whatever the clock says: one set far ahead must not empty the folder.
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return a.written != b.written ? a.written > b.written : a.path > b.path;
  });
  int removed = 0;
  for (size_t i = kSessionsKept; i < found.size(); ++i) {
    if (nowMs - found[i].written <= keepMs) continue;
    // A recorder holds its file locked: a console idle for weeks is still writing it.
    const int fd = ::open(found[i].path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(found[i].path.c_str()) == 0) ++removed;
    ::close(fd);
  }
  return removed;
}

bool LoadRecordSession(const std::string& configFolder) {
  return LoadChoice(configFolder, "record_session", true);
}

std::string SaveRecordSession(const std::string& configFolder, bool on) {
  return SaveChoice(configFolder, "record_session", on);
}

bool LoadChoice(const std::string& configFolder, const std::string& key, bool otherwise) {
  if (configFolder.empty()) return otherwise;
  const settings::Values values = settings::Load(configFolder + "/settings");
  const auto it = values.find(key);
  return it == values.end() ? otherwise : it->second != "0";
}

std::string SaveChoice(const std::string& configFolder, const std::string& key, bool on) {
  if (configFolder.empty()) return "no folder for the settings";
  const std::string path = configFolder + "/settings";
  settings::Values values = settings::Load(path);  // other settings may share the file
  values[key] = on ? "1" : "0";
  return settings::Store(path, values);
}

// ---- recorder ----

SessionRecorder::SessionRecorder(Options options) : options_(std::move(options)) {
  const std::string stem = options_.folder + "/" + FileStampLocal(options_.startMs);
  path_ = stem + ".session";
  if (std::string error = MakeFolders(options_.folder); !error.empty()) {
    Fail(error);
    return;
  }
  // A session never continues another: a second one started in the same second gets "-2".
  constexpr int kMaxSameSecond = 100;
  for (int n = 2;; ++n) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0666);
    if (fd_ >= 0 || errno != EEXIST || n > kMaxSameSecond) break;
    path_ = stem + "-" + std::to_string(n) + ".session";
  }
  if (fd_ < 0) {
    Fail(path_ + ": " + std::strerror(errno));
    return;
  }
  // Held while the file is open, so that pruning leaves it alone; a new file is never held.
  (void)::flock(fd_, LOCK_EX | LOCK_NB);
  writer_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

SessionRecorder::~SessionRecorder() {
  if (writer_.joinable()) {
    writer_.request_stop();
    writer_.join();
  }
  if (fd_ >= 0) {
    if (unsynced_ && !Stopped()) (void)::fdatasync(fd_);
    ::close(fd_);
  }
}

void SessionRecorder::Fail(std::string reason) {
  std::lock_guard lock(mu_);
  failure_ = std::move(reason);
  pending_.clear();
  stopped_.store(true, std::memory_order_release);
  cv_.notify_all();
}

std::string SessionRecorder::Failure() const {
  std::lock_guard lock(mu_);
  return failure_;
}

void SessionRecorder::Add(int64_t ms, Tag tag, std::string_view text) {
  if (Stopped()) return;
  std::string record = FormatRecord(ms, tag, text);
  record.push_back('\n');
  bool first = false;
  {
    std::lock_guard lock(mu_);
    if (stopped_.load(std::memory_order_relaxed)) return;
    // While records flow the writer comes back on its own every batch period: only an idle
    // writer is woken, so a stream costs one wake-up per batch, not two.
    first = pending_.empty() && writerIdle_;
    pending_ += record;
    ++pendingCount_;
    ++added_;
  }
  if (first) cv_.notify_all();
}

void SessionRecorder::Flush() {
  std::unique_lock lock(mu_);
  const int64_t target = added_;
  cv_.notify_all();
  cv_.wait(lock, [&] { return Stopped() || written_.load(std::memory_order_acquire) >= target; });
}

void SessionRecorder::Run(std::stop_token stop) {
  using Clock = std::chrono::steady_clock;
  std::string batch;
  Clock::time_point nextSync = Clock::now();
  bool flowing = false;  // the last batch held records: the next is gathered without a notice
  for (;;) {
    int64_t count = 0;
    {
      std::unique_lock lock(mu_);
      const auto gather = [&] { cv_.wait_for(lock, stop, options_.batch, [] { return false; }); };
      if (flowing && !stop.stop_requested()) gather();
      if (pending_.empty()) {
        // Sleep until there is something to write, or what was written is due to be synced;
        // then gather for one batch period.
        writerIdle_ = true;
        if (unsynced_) {
          cv_.wait_until(lock, stop, nextSync, [&] { return !pending_.empty(); });
        } else {
          cv_.wait(lock, stop, [&] { return !pending_.empty(); });
        }
        writerIdle_ = false;
        if (!pending_.empty() && !stop.stop_requested()) gather();
      }
      batch.swap(pending_);
      count = std::exchange(pendingCount_, 0);
    }
    std::string error;
    if (!batch.empty()) {
      error = WriteAll(options_.write, fd_, batch);
      if (error.empty()) {
        whole_ += static_cast<off_t>(batch.size());
        unsynced_ = true;
      }
      batch.clear();
    }
    // Written every batch, so a crash of the program loses at most one; synced at most once a
    // period, so that a power cut loses at most that much and the disk is not asked 20 times a
    // second.
    if (error.empty() && unsynced_ && Clock::now() >= nextSync) {
      if (::fdatasync(fd_) != 0 && errno != EINVAL) error = std::strerror(errno);
      unsynced_ = false;
      nextSync = Clock::now() + options_.sync;
    }
    if (!error.empty()) {
      // Cut back to the last whole record: a reader never meets half a line.
      (void)::ftruncate(fd_, whole_);
      Fail(path_ + ": " + error);
      if (options_.onStopped) options_.onStopped(stop);
      return;
    }
    flowing = count > 0;
    if (count > 0) {
      written_.fetch_add(count, std::memory_order_acq_rel);
      {
        std::lock_guard lock(mu_);  // so that Flush cannot miss the notification
      }
      cv_.notify_all();
    }
    if (stop.stop_requested()) {
      std::lock_guard lock(mu_);
      if (pending_.empty()) return;
    }
  }
}

}  // namespace records
