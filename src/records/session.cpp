#include "records/session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

namespace records {
namespace {

std::string Base(const char* variable, const char* fallback) {
  if (const char* xdg = std::getenv(variable); xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + fallback;
}

}  // namespace

std::string SessionsFolder() {
  return Base("XDG_STATE_HOME", "/.local/state") + "/quirab_nibp/sessions";
}

std::string ConfigFolder() {
  return Base("XDG_CONFIG_HOME", "/.config") + "/quirab_nibp";
}

std::string MakeFolders(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return ec ? path + ": " + ec.message() : std::string();
}

int RemoveOldSessions(const std::string& folder, int64_t nowMs, int64_t keepMs) {
  namespace fs = std::filesystem;
  std::error_code ec;
  int removed = 0;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    if (p.extension() != ".session") continue;
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    const int64_t written =
        static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1'000'000;
    if (nowMs - written > keepMs && ::unlink(p.c_str()) == 0) ++removed;
  }
  return removed;
}

bool LoadRecordSession(const std::string& configFolder) {
  std::ifstream in(configFolder + "/settings");
  std::string line;
  bool on = true;
  while (std::getline(in, line)) {
    if (line == "record_session=0") on = false;
    if (line == "record_session=1") on = true;
  }
  return on;
}

std::string SaveRecordSession(const std::string& configFolder, bool on) {
  if (std::string error = MakeFolders(configFolder); !error.empty()) return error;
  const std::string path = configFolder + "/settings";
  // Other settings may share the file: keep their lines.
  std::string kept;
  {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("record_session=", 0) != 0) kept += line + '\n';
    }
  }
  kept += on ? "record_session=1\n" : "record_session=0\n";
  bool done = false;
  const std::string error = ReplaceFile(path, [&](std::string& chunk) {
    if (!done) chunk = kept;
    done = true;
    return false;
  });
  return error.empty() ? error : path + ": " + error;
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
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ >= 0 || errno != EEXIST || n > kMaxSameSecond) break;
    path_ = stem + "-" + std::to_string(n) + ".session";
  }
  if (fd_ < 0) {
    Fail(path_ + ": " + std::strerror(errno));
    return;
  }
  writer_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

SessionRecorder::~SessionRecorder() {
  if (writer_.joinable()) {
    writer_.request_stop();
    writer_.join();
  }
  if (fd_ >= 0) ::close(fd_);
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
    first = pending_.empty();
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
  std::string batch;
  for (;;) {
    int64_t count = 0;
    {
      std::unique_lock lock(mu_);
      // Sleep until there is something to write; then gather for one batch period.
      cv_.wait(lock, stop, [&] { return !pending_.empty(); });
      if (!pending_.empty() && !stop.stop_requested()) {
        cv_.wait_for(lock, stop, options_.batch, [] { return false; });
      }
      batch.swap(pending_);
      count = std::exchange(pendingCount_, 0);
    }
    if (!batch.empty()) {
      std::string error = WriteAll(options_.write, fd_, batch);
      if (error.empty() && ::fdatasync(fd_) != 0 && errno != EINVAL) error = std::strerror(errno);
      batch.clear();
      if (!error.empty()) {
        Fail(path_ + ": " + error);
        if (options_.onStopped) options_.onStopped(stop);
        return;
      }
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
