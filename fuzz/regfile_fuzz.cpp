// libFuzzer target: the export reader on arbitrary bytes. It must load or
// refuse every input without reading or writing out of bounds, leaking or
// tripping undefined behaviour; a refusal, and each line skipped, names a
// line and says what it expected.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "memreg.h"
#include "regfile.h"

static void skipped(unsigned long line, const char *expected, void *last) {
  // Lines are reported in order; only an odd last byte of UTF-16 can be
  // reported on the header line.
  unsigned long *prev = (unsigned long *)last;
  if (line < 1 || line < *prev || expected[0] == 0)
    __builtin_trap();
  *prev = line;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  mrclear();
  unsigned long line = 0, last = 0;
  char msg[160];
  msg[0] = 0;
  int ret = regloadmem(data, size, &line, msg, sizeof msg, skipped, &last);
  if (ret != 0) {
    if (ret != -1 || line == 0 || msg[0] == 0 || strnlen(msg, sizeof msg) == sizeof msg)
      __builtin_trap();
    return 0;
  }
  // What was loaded can be laid out for the calls, and the roots are there.
  mrready();
  if (mrnkeys() < MRNROOTS)
    __builtin_trap();
  return 0;
}
