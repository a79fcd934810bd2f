// The Windows backend. The five registry calls are advapi32's own, working
// on the machine's live registry: HKEY_LOCAL_MACHINE is always there for a
// process to open, so there is nothing to load or set up before a run.
#include "registry.h"

int regprepare(void) {
  return 0;
}
