// What the tests and the fuzzers put between the tool and the in-memory
// registry: the five registry calls with fault injection and a watcher in
// front of them, and a look at the handles a run leaves open. The shipped
// tool calls the registry directly (src/registry/native/regcalls.cpp).
#pragma once

#include "memreg.h"

enum { MROPEN, MRENUMVALUE, MRENUMKEY, MRQUERY, MRCLOSE, MRNOPS };

// Empties the registry and forgets faults, counters and the watcher.
void testreset(void);

// The result codes the tests and the fuzzers inject: ERROR_INVALID_FUNCTION,
// not found, access denied, a bad handle, a bad parameter, more data, no
// more items, and one no call returns (-1). Every one is a failure to a
// scan, whatever it means.
const LONG faultcodes[] = {1, 2, 5, 6, 87, 234, 259, -1};

// Fault injection. The nth call (from 1) of op returns code instead of
// running; a path fault makes every open of that full path (op MROPEN), or
// every query of path\valuename (op MRQUERY), return code.
void mrfault(int op, DWORD nth, LONG code);
void mrfaultpath(int op, const char *path, LONG code);

// What the calls did since testreset (or mrresetcalls).
void mrresetcalls(void);
DWORD mrcalls(int op);

// The handles open now, in slot order: fills at most max of them into out
// and returns how many there are.
int mrhandles(HKEY *out, int max);
// Writes the path, below its root, of the key that an open handle or a root
// stands for (empty for a root), in the code page the calls hand names over
// in; returns its length, or -1 for any other h.
int mrkeypath(HKEY h, char *buf, size_t cap);

// Calls fn at the start of each of the five calls, before a fault can answer
// it: the op, the key passed, the index of an enumeration or the access mask
// of an open (else 0) and the subkey or value name of an open or a query
// (else null). Lets a test tie what a run prints to the call it was making.
// testreset stops it.
typedef void (*mrwatchfn)(int op, HKEY key, DWORD arg, const char *name);
void mrwatch(mrwatchfn fn);
