#include "cli/output.h"

#include <utility>

#include "protocol/frames.h"

namespace cli {

std::string JsonRecord(int64_t ms, records::Tag tag, std::string_view text) {
  std::string utf8;
  records::AppendLatin1AsUtf8(utf8, text);
  std::string s = "{\"time\":\"" + records::IsoLocal(ms) + "\",\"tag\":\"";
  s += static_cast<char>(tag);
  s += "\",\"text\":\"";
  for (const char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      s += '\\';
      s += c;
    } else if (u < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", u);
      s += esc;
    } else {
      s += c;
    }
  }
  s += "\"}";
  return s;
}

std::string JsonResult(int64_t ms, std::string_view text, const protocol::BpData& bp,
                       std::optional<commands::Mode> mode) {
  std::string s = JsonRecord(ms, records::Tag::kEvent, text);
  s.pop_back();  // the closing brace: the fields follow the text
  const std::pair<const char*, int> numbers[] = {{"systolic", bp.systolic},
                                                 {"diastolic", bp.diastolic},
                                                 {"heart_rate", bp.heartRate},
                                                 {"map", bp.map},
                                                 {"sq", bp.sq},
                                                 {"err", bp.err},
                                                 {"status", bp.status}};
  for (const auto& [name, value] : numbers) {
    s += ",\"";
    s += name;
    s += "\":";
    s += std::to_string(value);
  }
  std::string tc;
  protocol::AppendHexSpaced(tc, bp.tc);
  if (!tc.empty()) tc.pop_back();
  s += ",\"tc\":\"" + tc + "\",\"mode\":";
  s += mode ? "\"" + std::string(commands::ModeName(*mode)) + "\"" : std::string("null");
  s += '}';
  return s;
}

void Output::Result(std::span<const std::string> eventLines, const protocol::BpData& bp,
                    std::optional<commands::Mode> mode) {
  for (size_t i = 0; i < eventLines.size(); ++i) {
    if (i == 0 && json_) {
      Write(JsonResult(clock_(), eventLines[0], bp, mode));
    } else {
      Record(records::Tag::kEvent, eventLines[i]);
    }
  }
}

void Output::Record(records::Tag tag, std::string_view text) {
  const int64_t ms = clock_();
  Write(json_ ? JsonRecord(ms, tag, text) : records::FormatRecord(ms, tag, text));
}

void Output::Text(std::string_view text) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  Write(std::string(text));
}

void Output::Write(const std::string& line) {
  if (std::fwrite(line.data(), 1, line.size(), out_) != line.size() ||
      std::fputc('\n', out_) == EOF || std::fflush(out_) != 0) {
    failed_ = true;
  }
}

}  // namespace cli
