#pragma once
// The simulator's --log-sent-times file, and the walk that holds what a console showed against it.

#include <time.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testsupport {

// CLOCK_MONOTONIC, the simulator's clock for its send times.
inline int64_t MonoNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

struct SentFrame {
  int64_t ns = 0;
  std::string hex;  // "3e 05 a0 00 1d"
};

// Every whole line: the simulator may be writing the next one while this reads.
inline std::vector<SentFrame> ReadSentTimes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<SentFrame> out;
  for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
    const size_t sp = text.find(' ', at);
    if (sp < nl) out.push_back({std::atoll(text.c_str() + at), text.substr(sp + 1, nl - sp - 1)});
  }
  return out;
}

struct ShownMatch {
  size_t missing = 0;             // sent, required, passed over
  size_t unexpected = 0;          // shown, but never sent, twice, or out of order
  std::vector<size_t> sentIndex;  // of each shown frame; npos when unexpected
  std::string firstUnexpected;
};

// Walks the shown frames along the sent ones, in order. A sent frame passed over counts as
// missing when `required(sent frame)` says it had to be shown.
template <typename Required>
ShownMatch MatchShown(const std::vector<std::string>& shown, const std::vector<SentFrame>& sent,
                      Required required) {
  ShownMatch m;
  size_t next = 0;
  for (const std::string& s : shown) {
    size_t j = next;
    while (j < sent.size() && sent[j].hex != s) ++j;
    if (j == sent.size()) {
      if (m.unexpected++ == 0) m.firstUnexpected = s;
      m.sentIndex.push_back(std::string::npos);
      continue;
    }
    for (; next < j; ++next) m.missing += required(sent[next]) ? 1 : 0;
    m.sentIndex.push_back(j);
    next = j + 1;
  }
  for (; next < sent.size(); ++next) m.missing += required(sent[next]) ? 1 : 0;
  return m;
}

}  // namespace testsupport
