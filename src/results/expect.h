#pragma once
// Limits of --expect: "sys=120:5,dia=80:5,hr=72:3,map=93:5", any subset, value:tolerance.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/reply.h"

namespace results {

enum class Quantity { kSystolic, kDiastolic, kHeartRate, kMap };
inline constexpr size_t kQuantities = 4;

// "sys", "dia", "hr", "map": the names --expect uses.
[[nodiscard]] std::string_view ExpectName(Quantity q);
// "systolic", "diastolic", "heart_rate", "map": the CSV's and the summary's.
[[nodiscard]] std::string_view LongName(Quantity q);
[[nodiscard]] double ValueOf(const protocol::BpData& bp, Quantity q);

struct Limit {
  double value = 0;
  double tolerance = 0;
};

struct Limits {
  std::array<std::optional<Limit>, kQuantities> of;
  [[nodiscard]] const std::optional<Limit>& operator[](Quantity q) const {
    return of[static_cast<size_t>(q)];
  }
};

// The limits, or an error message naming the part that is wrong.
struct ExpectParse {
  std::optional<Limits> limits;
  std::string error;
};
[[nodiscard]] ExpectParse ParseExpect(std::string_view text);

// One line per value outside its limit: "systolic 131 outside 120:5".
[[nodiscard]] std::vector<std::string> Violations(const Limits& limits, const protocol::BpData& bp);

}  // namespace results
