#pragma once

// Only for the programs' option parsers, which link CLI11 themselves.
#include <CLI/CLI.hpp>
#include <optional>
#include <sstream>

namespace tarvo::base {

/// Parses a command line with CLI11. Gives nothing when the program should go on, or the end
/// the command line asks for (`--help`, or a wrong option with CLI11's text): `Line` is a
/// `CommandLine`. `usage_status`, when not 0, replaces CLI11's own codes for a wrong command line.
template <typename Line>
std::optional<Line> ParseOrEnd(CLI::App& app, int argc, const char* const* argv,
                               int usage_status = 0) {
  try {
    app.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::ParseError& error) {
    Line line;
    std::ostringstream out;
    std::ostringstream err;
    const int status = app.exit(error, out, err);
    line.exit_status = status != 0 && usage_status != 0 ? usage_status : status;
    line.out = out.str();
    line.err = err.str();
    return line;
  }
}

}  // namespace tarvo::base
