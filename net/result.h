#pragma once

#include "base/result.h"

namespace tarvo::net {

/// A socket call's value, or the readable reason (with the system's error text) why there is
/// none: the project's one Result, so a failure reads the same at every layer.
using base::Fail;
using base::Result;

}  // namespace tarvo::net
