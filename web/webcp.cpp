// What the page asks of a finished run besides its streams: the code page
// its text was converted to (the export's ACP, or 1252 for one we do not
// know), to decode the output with.
#include <emscripten.h>

#include "memreg.h"

extern "C" EMSCRIPTEN_KEEPALIVE unsigned comserial_codepage(void) {
  return mrcodepage();
}
