#pragma once
// nibp-cli check: the service checks on one port or on several at once, one thread a port.

#include <cstdio>

#include "cli/options.h"
#include "cli/output.h"
#include "cli/run.h"

namespace cli {

[[nodiscard]] int RunCheck(const Options& options, const CheckOptions& check, Output& out,
                           std::FILE* err, const StopFlag& stop);

}  // namespace cli
