#include "tools/kserverctl/command_line.h"

#include <CLI/CLI.hpp>
#include <sstream>

namespace tarvo::kserverctl {

CtlCommandLine ParseCommandLine(int argc, const char* const* argv) {
  CtlCommandLine line;
  Options options;
  CLI::App app{"kserverctl"};
  DefineCli(app, options);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    std::ostringstream out;
    std::ostringstream err;
    // The parser's own codes (105, 106, ...) are not the documented one for wrong arguments.
    line.exit_status = app.exit(e, out, err) == 0 ? 0 : kExitUsage;
    line.out = out.str();
    line.err = err.str();
    return line;
  }
  try {
    FinishOptions(options);
  } catch (const CtlError& error) {
    return CtlCommandLine::Refuse(error.code(), "kserverctl: " + std::string(error.what()) + "\n");
  }
  line.options = std::move(options);
  return line;
}

}  // namespace tarvo::kserverctl
