#pragma once
// The programs' number parser under the names the command-line tool's code uses.

#include "program/numbers.h"

namespace cli {

using program::FormatNumber;
using program::ParseNumber;
using program::ParseWhole;

}  // namespace cli
