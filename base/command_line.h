#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace tarvo::base {

/// What a program's command line asks for: run with `options`, or end at once with
/// `exit_status` after writing `out` (the help) to standard output and `err` (what was wrong)
/// to standard error. Parsing never prints, so a test can read the texts and the status.
template <typename Options>
struct [[nodiscard]] CommandLine {
  std::optional<Options> options;
  int exit_status = 0;
  std::string out;
  std::string err;

  /// Ends the program's parsing: writes the texts and gives the exit status.
  int Finish(std::ostream& out_stream, std::ostream& err_stream) const {
    out_stream << out << std::flush;
    err_stream << err << std::flush;
    return exit_status;
  }

  /// A command line that ends the program with `status` and `message` on standard error.
  static CommandLine Refuse(int status, const std::string& message) {
    CommandLine line;
    line.exit_status = status;
    line.err = message;
    return line;
  }
};

}  // namespace tarvo::base
