// Must not compile: the build treats a dropped Result as an error.
#include "base/result.h"

tarvo::base::Result<void> Save() { return tarvo::base::Fail("disk full"); }

int main() {
  Save();
  return 0;
}
