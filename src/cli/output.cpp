#include "cli/output.h"

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
