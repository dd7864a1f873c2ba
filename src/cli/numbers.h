#pragma once
// Numbers as the command line gives them; shared with the checks.

#include "results/numbers.h"

namespace cli {
using results::FormatNumber;
using results::ParseNumber;
using results::ParseWhole;
}  // namespace cli
