#pragma once
// --expect's limits live with the results, where the checks use them too.

#include "results/expect.h"

namespace cli {
using results::ExpectName;
using results::ExpectParse;
using results::kQuantities;
using results::Limit;
using results::Limits;
using results::LongName;
using results::ParseExpect;
using results::Quantity;
using results::ValueOf;
using results::Violations;
}  // namespace cli
