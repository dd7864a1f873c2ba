#pragma once
// The session file: every log line and status change of a run, appended from a writer thread
// in batches, so that the window never waits on the disk and a crash loses at most one batch.
// Synced at most once a second: a power cut loses at most that much. The file ends with a whole
// record at all times, and is locked (flock) while it is being written.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

#include "records/file_io.h"
#include "records/record_format.h"

namespace records {

// sessions in the state folder, and the configuration folder (files::ProgramFolder); empty when
// there is none.
[[nodiscard]] std::string SessionsFolder();
[[nodiscard]] std::string ConfigFolder();
// Creates the folder and its parents (0700); the empty string or "PATH: reason".
[[nodiscard]] std::string MakeFolders(const std::string& path);

inline constexpr int64_t kSessionKeepMs = 30LL * 24 * 3600 * 1000;
inline constexpr size_t kSessionsKept = 10;
// Removes the sessions (files named *.session) last written more than `keepMs` before `nowMs`,
// except the kSessionsKept newest and any a recorder holds. Returns how many went.
int RemoveOldSessions(const std::string& folder, int64_t nowMs, int64_t keepMs = kSessionKeepMs);

// The "Record Session" choice, a line "record_session=0" or "=1" in `configFolder`/settings.
// On when nothing was saved yet.
[[nodiscard]] bool LoadRecordSession(const std::string& configFolder);
[[nodiscard]] std::string SaveRecordSession(const std::string& configFolder, bool on);
// Another on/off choice kept in the same file, "KEY=0" or "=1"; `otherwise` when not saved yet.
[[nodiscard]] bool LoadChoice(const std::string& configFolder, const std::string& key,
                              bool otherwise);
[[nodiscard]] std::string SaveChoice(const std::string& configFolder, const std::string& key,
                                     bool on);

class SessionRecorder {
 public:
  struct Options {
    std::string folder;
    // Names the file: YYYYMMDD-HHMMSS.session, or YYYYMMDD-HHMMSS-N.session (N from 2) when
    // another session started in the same second.
    int64_t startMs = 0;
    // How long the writer gathers records: after the first of a batch when it was idle, after
    // each write while records flow.
    std::chrono::milliseconds batch{50};
    // How often at most what was written is synced to the disk.
    std::chrono::milliseconds sync{1000};
    WriteFn write = SystemWrite();
    // Called once from the writer thread when recording stops on an error; `stop` is requested
    // when the recorder is destroyed meanwhile.
    std::function<void(std::stop_token stop)> onStopped;
  };

  // Opens (appends to) the file; when that fails, Failure() says why and nothing runs.
  explicit SessionRecorder(Options options);
  // Writes what is waiting, then closes.
  ~SessionRecorder();
  SessionRecorder(const SessionRecorder&) = delete;
  SessionRecorder& operator=(const SessionRecorder&) = delete;

  // The user-interface thread's call: cheap, never touches the disk.
  void Add(int64_t ms, Tag tag, std::string_view text);
  // Waits until every record added so far is written (or recording stopped).
  void Flush();

  [[nodiscard]] const std::string& Path() const { return path_; }
  [[nodiscard]] bool Stopped() const { return stopped_.load(std::memory_order_acquire); }
  // Why recording stopped ("PATH: reason"); empty while it runs.
  [[nodiscard]] std::string Failure() const;
  // Records written so far, for the benchmark's lag figure.
  [[nodiscard]] int64_t Written() const { return written_.load(std::memory_order_acquire); }

 private:
  void Run(std::stop_token stop);
  void Fail(std::string reason);

  Options options_;
  std::string path_;
  int fd_ = -1;
  off_t whole_ = 0;        // bytes of whole records in the file; the writer's
  bool unsynced_ = false;  // the writer's until it has been joined
  mutable std::mutex mu_;
  std::condition_variable_any cv_;
  std::string pending_;  // formatted records not yet handed to the writer, guarded by mu_
  int64_t pendingCount_ = 0;
  int64_t added_ = 0;        // guarded by mu_
  bool writerIdle_ = false;  // the writer waits for a first record; guarded by mu_
  std::string failure_;      // guarded by mu_
  std::atomic<bool> stopped_{false};
  std::atomic<int64_t> written_{0};
  std::jthread writer_;  // last: stopped and joined first
};

}  // namespace records
