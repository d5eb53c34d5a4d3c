#pragma once

#include "client/mainwindow/client_options.h"

namespace tarvo::client {

/// tarvo3d's run on the Qt application that exists: the forms in their binding order, the
/// connect dialog filled from the options, and the timed quit or screenshot. Returns the exit
/// status.
int RunClient(const ClientOptions& options);

}  // namespace tarvo::client
