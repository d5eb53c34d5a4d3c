#include "tools/kserverctl/command_line.h"

#include <CLI/CLI.hpp>

#include "base/cli_parse.h"

namespace tarvo::kserverctl {

CtlCommandLine ParseCommandLine(int argc, const char* const* argv) {
  CtlCommandLine line;
  Options options;
  CLI::App app{"kserverctl"};
  DefineCli(app, options);
  // The parser's own codes (105, 106, ...) are not the documented one for wrong arguments.
  if (auto ended = base::ParseOrEnd<CtlCommandLine>(app, argc, argv, kExitUsage)) return *ended;
  try {
    FinishOptions(options);
  } catch (const CtlError& error) {
    return CtlCommandLine::Refuse(error.code(), "kserverctl: " + std::string(error.what()) + "\n");
  }
  line.options = std::move(options);
  return line;
}

}  // namespace tarvo::kserverctl
