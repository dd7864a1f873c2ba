#include "records/file_io.h"

#include "records/record_format.h"

namespace records {

std::string SaveLog(const std::string& path, const LogLines& lines, const WriteFn& write) {
  constexpr size_t kChunk = 256 * 1024;
  int row = 0;
  return ReplaceFile(
      path,
      [&](std::string& chunk) {
        while (row < lines.count && chunk.size() < kChunk) {
          chunk += FormatSavedLine(lines.time(row), lines.text(row));
          chunk.push_back('\n');
          ++row;
        }
        return row < lines.count;
      },
      write);
}

}  // namespace records
