#pragma once
// Where nibp-cli's records go: session-format lines (time, tab, tag, tab, text) or JSON lines
// with the same fields, each flushed at once so that a script reading them sees them live.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "commands/commands.h"
#include "protocol/reply.h"
#include "records/record_format.h"

namespace cli {

// {"time":"...","tag":"E","text":"..."}: the text's bytes as Latin-1, escaped for JSON.
[[nodiscard]] std::string JsonRecord(int64_t ms, records::Tag tag, std::string_view text);
// The same for a result's first event line, with its numbers as fields after the text:
// "systolic", "diastolic", "heart_rate", "map", "sq", "err", "status" as numbers, "tc" as the
// event log's hex bytes, "mode" as "adult", "neonate", "pediatric" or null when unknown.
[[nodiscard]] std::string JsonResult(int64_t ms, std::string_view text, const protocol::BpData& bp,
                                     std::optional<commands::Mode> mode);

class Output {
 public:
  using Clock = std::function<int64_t()>;  // wall-clock ms
  Output(std::FILE* out, bool json, Clock clock = records::NowMs)
      : out_(out), json_(json), clock_(std::move(clock)) {}

  void Record(records::Tag tag, std::string_view text);
  // A result's event lines; in JSON the first carries the numbers (JsonResult).
  void Result(std::span<const std::string> eventLines, const protocol::BpData& bp,
              std::optional<commands::Mode> mode);
  // A line of its own (the summary), written as it is.
  void Text(std::string_view text);
  [[nodiscard]] bool Json() const { return json_; }
  // True when a write failed (a full disk, a closed pipe).
  [[nodiscard]] bool Failed() const { return failed_; }

 private:
  void Write(const std::string& line);

  std::FILE* out_;
  bool json_;
  Clock clock_;
  bool failed_ = false;
};

}  // namespace cli
