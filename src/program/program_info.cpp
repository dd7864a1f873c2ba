#include "program/program_info.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "res/templates.h"

namespace program {

std::string Version() {
  const auto& v = res::Version().productVersion;
  std::string s;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) s += '.';
    s += std::to_string(v[i]);
  }
  return s;
}

std::string VersionText(std::string_view program) {
  const std::string_view product = res::Version().productName;
  std::string s(program);
  if (program != product) {
    s += " (";
    s += product;
    s += ')';
  }
  s += ' ';
  s += Version();
  s += '\n';
  return s;
}

InfoRequest FindInfoRequest(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--") break;
    if (a == "--help") return InfoRequest::kHelp;
    if (a == "--version") return InfoRequest::kVersion;
  }
  return InfoRequest::kNone;
}

int PrintInfo(InfoRequest request, std::string_view program, std::string_view usage) {
  const std::string text =
      request == InfoRequest::kVersion ? VersionText(program) : std::string(usage);
  // A full disk or a closed pipe must not pass for success.
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "%.*s: write error: %s\n", static_cast<int>(program.size()),
                 program.data(), std::strerror(errno));
    return 1;
  }
  return 0;
}

}  // namespace program
