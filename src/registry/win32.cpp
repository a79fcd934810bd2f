// The Windows backend. The five registry calls are advapi32's own and read
// the machine's live registry, which needs no loading: HKLM is open to every
// process for reading, and the scans open each key with the least access
// they need, so a user without administrator rights gets the same report.
#include "registry.h"

int regprepare(void) {
  return 0;
}
