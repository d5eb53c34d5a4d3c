#pragma once

#include <string>

namespace tarvo::server {

/// What an attempt to start the server from the start dialog came to.
struct StartOutcome {
  enum class Kind {
    kStarted,      ///< listening; the dialog hides
    kInvalidPort,  ///< the port text names no port; the dialog shows `message` and stays
    kFailed,       ///< the socket could not be set up; the program ends
  };
  Kind kind = Kind::kFailed;
  std::string message;  ///< the reason, for the error box or the log
};

}  // namespace tarvo::server
