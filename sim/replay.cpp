#include "sim/replay.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "protocol/frames.h"
#include "records/record_format.h"

namespace sim {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The bytes of "PC <-- MODULE <3E><05>..." and what follows them, or nothing.
std::optional<std::vector<uint8_t>> ReceivedBytes(std::string_view text, std::string_view& rest) {
  if (!text.starts_with(protocol::kPrefixReceived)) return std::nullopt;
  text.remove_prefix(protocol::kPrefixReceived.size());
  std::vector<uint8_t> bytes;
  while (text.size() >= 4 && text[0] == '<' && text[3] == '>') {
    const int hi = HexValue(text[1]), lo = HexValue(text[2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
    text.remove_prefix(4);
  }
  if (bytes.empty()) return std::nullopt;
  rest = text;
  return bytes;
}

}  // namespace

std::optional<ReplayFrame> ParseReplayLine(std::string_view line) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  const size_t tab = line.find('\t');
  if (tab == std::string_view::npos) return std::nullopt;
  const std::string_view stamp = line.substr(0, tab);
  std::string_view text = line.substr(tab + 1);
  const bool session = stamp.size() > 10 && stamp[10] == 'T';
  char tag = 'R';
  if (session) {
    if (text.size() < 2 || text[1] != '\t') return std::nullopt;
    tag = text[0];
    text.remove_prefix(2);
    if (tag != 'R' && tag != 'B' && tag != 'N') return std::nullopt;
  }
  // Only the differences between lines matter, so a raw log's local time is taken as it stands.
  const std::optional<int64_t> ms = records::ParseStamp(stamp, session);
  if (!ms) return std::nullopt;
  std::string_view rest;
  std::optional<std::vector<uint8_t>> bytes = ReceivedBytes(text, rest);
  if (!bytes) return std::nullopt;
  const bool exact = rest.empty();
  if (!exact && rest != " checksum error" && rest != " dropped") return std::nullopt;
  // A session records what the raw log shows of a bad frame or of noise again as its own B or N
  // line; a saved raw log has only the shown line.
  if (session && tag == 'R' && !exact) return std::nullopt;
  const bool dropped = tag == 'N' || rest == " dropped";
  return ReplayFrame{*ms, std::move(*bytes), tag == 'R' && exact, !dropped};
}

Replay ReadReplay(const ReadFn& read) {
  Replay out;
  int64_t first = 0, last = 0;
  size_t number = 0;
  const auto take = [&](std::string_view line) {
    std::optional<ReplayFrame> f = ParseReplayLine(line);
    if (!f) return;
    // A frame's second byte is its length; noise has none. A line that disagrees was cut or
    // altered, and played it would spoil the frame after it too.
    if (f->frame && (f->bytes.size() < 2 || f->bytes[1] != f->bytes.size())) {
      out.warnings.push_back("line " + std::to_string(number) + ": " +
                             std::to_string(f->bytes.size()) +
                             " frame bytes disagree with the length byte: skipped");
      return;
    }
    if (out.frames.empty()) first = last = f->ms;
    last = std::max(last, f->ms);
    f->ms = last - first;
    out.frames.push_back(std::move(*f));
  };
  std::string line;
  bool tooLong = false;  // the line in hand passed the limit: skipped to its end
  std::vector<char> buf(16 * 1024);
  for (;;) {
    const long n = read(buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      out.error = std::strerror(errno);
      break;
    }
    if (n == 0) break;  // a last line without its end is not taken
    std::string_view chunk(buf.data(), static_cast<size_t>(n));
    while (!chunk.empty()) {
      const size_t end = chunk.find('\n');
      const std::string_view piece = chunk.substr(0, end);
      if (!tooLong && line.size() + piece.size() > kMaxReplayLine) {
        tooLong = true;
        line.clear();
        line.shrink_to_fit();
        out.warnings.push_back("line " + std::to_string(number + 1) + ": longer than " +
                               std::to_string(kMaxReplayLine / 1024) + " KiB: skipped");
      }
      if (!tooLong) line.append(piece);
      if (end == std::string_view::npos) break;
      chunk.remove_prefix(end + 1);
      ++number;
      if (!tooLong) take(line);
      tooLong = false;
      line.clear();
    }
  }
  return out;
}

Replay ReadReplayFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Replay failed;
    failed.error = std::strerror(errno);
    return failed;
  }
  Replay out = ReadReplay([fd](char* buf, size_t size) { return ::read(fd, buf, size); });
  ::close(fd);
  return out;
}

}  // namespace sim
