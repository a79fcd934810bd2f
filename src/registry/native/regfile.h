// The native build's reader for registry exports (.reg files), as regedit and
// `reg export` write them and as regedit imports them.
#pragma once

#include <cstddef>
#include <cstdio>

// Called for each line the reader skips, as regedit would: the line's number
// (the line a value started on) and what was expected there.
typedef void (*regskipfn)(unsigned long line, const char *expected, void *ctx);

// Loads a registry export into the in-memory registry (merging over what is
// there). Lines regedit would skip are skipped, and reported through skip if
// it is given, once the load is done. Returns 0, or -1 when the input is not
// a registry export or cannot be read, with *line (1-based) and msg (what
// was expected) set. An 8-bit export is read in the code page the registry
// names (mracp); one that names another is read again, into an emptied
// registry.
int regloadfile(FILE *in, unsigned long *line, char *msg, size_t msgsize, regskipfn skip = nullptr,
                void *ctx = nullptr);
int regloadmem(const void *data, size_t size, unsigned long *line, char *msg, size_t msgsize,
               regskipfn skip = nullptr, void *ctx = nullptr);
