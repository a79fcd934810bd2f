// The native build reads the registry from an export on standard input.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "codepage.h"
#include "memreg.h"
#include "regfile.h"
#include "registry.h"

static void skipped(unsigned long line, const char *expected, void *) {
  fprintf(stderr, "comserial: line %lu: %s; skipped\n", line, expected);
}

int regprepare(void) {
  mrclear();
  if (fcntl(0, F_GETFD) == -1 && errno == EBADF) {
    fputs("comserial: no standard input; feed a registry export on it, e.g. comserial < export.reg\n",
          stderr);
    return 2;
  }
  if (isatty(0)) {
    fputs(
        "comserial: no registry export read from a terminal; feed one on standard input, e.g. comserial < "
        "export.reg\n",
        stderr);
    return 2;
  }
  unsigned long line = 0;
  char msg[160];
  if (regloadfile(stdin, &line, msg, sizeof msg, skipped) != 0) {
    fprintf(stderr, "comserial: line %lu: %s\n", line, msg);
    return 2;
  }
  // Convert and lay the registry out now, so that the run itself allocates
  // nothing.
  unsigned acp;
  if (mrready(&acp) != 0)
    fprintf(stderr,
            "comserial: the export's code page (ACP) %u is not supported; reading its text as code page %u\n",
            acp, CPFALLBACK);
  return 0;
}
