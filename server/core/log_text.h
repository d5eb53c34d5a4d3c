#pragma once

#include <string>
#include <string_view>

namespace tarvo::server {

/// A log-safe copy of a text from the network or a file: control bytes, bytes above 126, the
/// backslash and the double quote are written as \xNN, so one event stays one line whatever a
/// sender puts in a name.
std::string Printable(std::string_view text);

/// `Printable` between double quotes.
std::string Quoted(std::string_view text);

}  // namespace tarvo::server
