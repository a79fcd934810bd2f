// comserial: which COM port each FTDI USB-serial adapter (0403:6001) has,
// read from the registry. No argument: debug mode, dumping all it walks.
#include <cstdio>

#include "run.h"

static run rec;

int main(int argc, char **argv) {
  (void)argv;
  int status = regprepare();
  if (status != 0)
    return status;
  rec.out = stdout;
  return comserial(rec, argc);
}
