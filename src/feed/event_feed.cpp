#include "feed/event_feed.h"

#include <array>
#include <charconv>
#include <string>

#include "commands/command_text.h"

namespace feed {

namespace {

// Reads "prefix" then an integer, as many times as `out` has room; blanks between are skipped.
template <size_t N>
bool Scan(std::string_view line, const std::array<std::string_view, N>& prefixes,
          std::array<int, N>& out) {
  const char* p = line.data();
  const char* end = line.data() + line.size();
  for (size_t i = 0; i < N; ++i) {
    while (p < end && *p == ' ') ++p;
    const std::string_view rest(p, static_cast<size_t>(end - p));
    if (!rest.starts_with(prefixes[i])) return false;
    p += prefixes[i].size();
    while (p < end && *p == ' ') ++p;
    const auto [next, ec] = std::from_chars(p, end, out[i]);
    if (ec != std::errc()) return false;
    p = next;
  }
  return true;
}

// The command lines that become markers, and their labels: the line without its dashes.
std::optional<std::string> CommandLabel(std::string_view line) {
  if (!line.starts_with("-- ") || !line.ends_with(" --")) return std::nullopt;
  const std::string_view body = line.substr(3, line.size() - 6);
  static constexpr std::string_view kSet = "Set Initial Inflate to ";
  if (body.starts_with(kSet)) return "Set " + std::string(body.substr(kSet.size()));
  const std::string_view markers[] = {commands::kStartAdult,
                                      commands::kStartNeonate,
                                      commands::kStartPediatric,
                                      commands::kAbortBp,
                                      commands::PumpText(true),
                                      commands::PumpText(false),
                                      commands::ControlValveText(true),
                                      commands::ControlValveText(false),
                                      commands::DumpValveText(true),
                                      commands::DumpValveText(false)};
  for (std::string_view m : markers) {
    if (line == m) return std::string(body);
  }
  return std::nullopt;
}

bool ParseTc(std::string_view line, std::array<uint8_t, 8>& tc) {
  static constexpr std::string_view kPrefix = "TC: ";
  if (!line.starts_with(kPrefix)) return false;
  line.remove_prefix(kPrefix.size());
  for (uint8_t& b : tc) {
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    if (line.size() < 2) return false;
    const auto [next, ec] = std::from_chars(line.data(), line.data() + 2, b, 16);
    if (ec != std::errc() || next != line.data() + 2) return false;
    line.remove_prefix(2);
  }
  return true;
}

}  // namespace

void EventFeed::OnEventLine(int64_t ms, std::string_view line) {
  const bool afterCommand = lastWasCommand_;
  lastWasCommand_ = false;
  // The three lines of a result come in this order with nothing between them.
  std::optional<results::BpRow> row = std::move(pending_);
  const int stage = row ? pendingLines_ : 0;
  pending_.reset();
  if (line.starts_with("Not sent:")) {
    if (afterCommand) series_.DropLastMarker();
    return;
  }
  if (auto label = CommandLabel(line)) {
    series_.AddMarker(ms, std::move(*label));
    lastWasCommand_ = true;
    return;
  }
  std::array<int, 1> pressure{};
  if (Scan<1>(line, {"Cuff pressure:"}, pressure)) {
    series_.AddPoint(ms, pressure[0]);
    return;
  }

  std::array<int, 4> bp{};
  if (Scan<4>(line, {"BP Data:", "/", "mmHg Heart:", "MAP:"}, bp)) {
    pending_ = results::BpRow{ms, bp[0], bp[1], bp[2], bp[3]};
    pendingLines_ = 1;
  } else if (stage == 1 && ParseTc(line, row->tc)) {
    pending_ = row;
    pendingLines_ = 2;
  } else if (std::array<int, 3> sq{}; stage == 2 && Scan<3>(line, {"SQ:", "Err:", "Status:"}, sq)) {
    row->sq = sq[0];
    row->err = sq[1];
    row->status = sq[2];
    results_.Add(*row);
    series_.AddMarker(row->ms,
                      std::to_string(row->systolic) + "/" + std::to_string(row->diastolic));
  }
}

}  // namespace feed
