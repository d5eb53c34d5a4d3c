#pragma once

// The integer notation is shared with the server (port texts), so it lives with the protocol.
#include "protocol/integer_parser.h"

namespace tarvo::client {
using protocol::ParseInteger;
}  // namespace tarvo::client
