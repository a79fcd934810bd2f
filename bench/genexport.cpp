// comserial_genexport N: writes the export of a machine with N FTDI adapters
// (UTF-16LE, as `reg export` writes it) to standard output.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gen.h"

int main(int argc, char **argv) {
  int n = argc == 2 ? atoi(argv[1]) : -1;
  if (n < 0) {
    fprintf(stderr, "usage: comserial_genexport ADAPTERS > export.reg\n");
    return 2;
  }
  std::string out;
  genexport(n, out);
  return fwrite(out.data(), 1, out.size(), stdout) == out.size() && fflush(stdout) == 0 ? 0 : 1;
}
