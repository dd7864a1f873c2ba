#pragma once
// The options' number parser, under the names the measurement code uses.

#include "program/numbers.h"

namespace results {
using program::FormatNumber;
using program::ParseNumber;
using program::ParseWhole;
}  // namespace results
