// comserial: which COM port each FTDI USB-serial adapter (0403:6001) has,
// read from the registry. No argument: debug mode, dumping all it walks.
#include <cstdio>

#ifdef _WIN32
#include <io.h>
static int isterminal(FILE *f) {
  return _isatty(_fileno(f));
}
static void nolocking(FILE *) {}
#else
#include <stdio_ext.h>
#include <unistd.h>
static int isterminal(FILE *f) {
  return isatty(fileno(f));
}
// One thread writes: the C runtime need not lock the stream for each line.
static void nolocking(FILE *f) {
  __fsetlocking(f, FSETLOCKING_BYCALLER);
}
#endif

#include "run.h"

static run rec;
static char outbuf[1 << 16];

int main(int argc, char **argv) {
  (void)argv;
  // Windows' C runtime hands a pipe or a file each line as it is printed,
  // one system call apiece, which makes a debug dump of a big registry
  // crawl. Collect the output and write it in large blocks instead; every
  // run, failed or not, ends by returning here, and that flushes it. A
  // console still sees each line as it comes. Output that could not all be
  // written is no success: finish makes that status 3.
  if (!isterminal(stdout))
    setvbuf(stdout, outbuf, _IOFBF, sizeof outbuf);
  nolocking(stdout);
  int status = regprepare();
  if (status != 0)
    return status;
  rec.out = stdout;
  return finish(rec, comserial(rec, argc));
}
