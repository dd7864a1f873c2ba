#include "results/expect.h"

#include <algorithm>

#include "program/numbers.h"

namespace results {
namespace {

constexpr std::array<Quantity, kQuantities> kAll = {Quantity::kSystolic, Quantity::kDiastolic,
                                                    Quantity::kHeartRate, Quantity::kMap};

}  // namespace

std::string_view ExpectName(Quantity q) {
  constexpr std::array<std::string_view, kQuantities> kNames = {"sys", "dia", "hr", "map"};
  return kNames[static_cast<size_t>(q)];
}

std::string_view LongName(Quantity q) {
  constexpr std::array<std::string_view, kQuantities> kNames = {"systolic", "diastolic",
                                                                "heart_rate", "map"};
  return kNames[static_cast<size_t>(q)];
}

double ValueOf(const protocol::BpData& bp, Quantity q) {
  switch (q) {
    case Quantity::kSystolic:
      return bp.systolic;
    case Quantity::kDiastolic:
      return bp.diastolic;
    case Quantity::kHeartRate:
      return bp.heartRate;
    case Quantity::kMap:
      return bp.map;
  }
  return 0;
}

ExpectParse ParseExpect(std::string_view text) {
  Limits limits;
  const auto fail = [](std::string_view item, std::string_view why) {
    return ExpectParse{std::nullopt, "--expect: " + std::string(why) + ": \"" + std::string(item) +
                                         "\" (NAME=VALUE:TOLERANCE, NAME sys, dia, hr or map)"};
  };
  if (text.empty()) return fail(text, "no limits given");
  while (true) {
    const size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    const size_t eq = item.find('=');
    const size_t colon = item.find(':');
    if (eq == std::string_view::npos || colon == std::string_view::npos || colon < eq) {
      return fail(item, "not a limit");
    }
    const std::string_view name = item.substr(0, eq);
    const auto* q =
        std::find_if(kAll.begin(), kAll.end(), [&](Quantity k) { return ExpectName(k) == name; });
    if (q == kAll.end()) return fail(item, "unknown value");
    auto& slot = limits.of[static_cast<size_t>(*q)];
    if (slot) return fail(item, "given twice");
    const auto value = program::ParseNumber(item.substr(eq + 1, colon - eq - 1), 0, 1000);
    const auto tolerance = program::ParseNumber(item.substr(colon + 1), 0, 1000);
    if (!value || !tolerance) return fail(item, "not a number from 0 to 1000");
    slot = Limit{*value, *tolerance};
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return {limits, {}};
}

std::vector<std::string> Violations(const Limits& limits, const protocol::BpData& bp) {
  std::vector<std::string> out;
  for (const Quantity q : kAll) {
    const auto& limit = limits[q];
    const double v = ValueOf(bp, q);
    if (!limit || (v >= limit->value - limit->tolerance && v <= limit->value + limit->tolerance)) {
      continue;
    }
    out.push_back(std::string(LongName(q)) + ' ' + program::FormatNumber(v) + " outside " +
                  program::FormatNumber(limit->value) + ':' +
                  program::FormatNumber(limit->tolerance));
  }
  return out;
}

}  // namespace results
