#pragma once

#include "base/command_line.h"
#include "tools/kserverctl/commands.h"

namespace tarvo::kserverctl {

using CtlCommandLine = base::CommandLine<Options>;

/// Parses and checks kserverctl's command line. --help ends with status 0 and the help text; a
/// bad command line with `kExitUsage` (1, as the help says) and the reason.
CtlCommandLine ParseCommandLine(int argc, const char* const* argv);

}  // namespace tarvo::kserverctl
