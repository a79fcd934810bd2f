// The native build's reader for registry exports (.reg files), as regedit and
// `reg export` write them and as people write them by hand.
#pragma once

#include <cstddef>
#include <cstdio>

// Loads a registry export into the in-memory registry (merging over what is there).
// Returns 0, or -1 with *line (1-based line number) and msg (what was expected) set.
int regloadfile(FILE *in, unsigned long *line, char *msg, size_t msgsize);
int regloadmem(const void *data, size_t size, unsigned long *line, char *msg, size_t msgsize);
