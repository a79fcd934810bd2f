// Windows' ANSI code pages and upper case, as the "A" registry calls and
// regedit use them. Everything is looked up in the tables of cptables.inc,
// which scripts/gencptables makes from Wine; nothing here allocates or
// keeps state.
#pragma once

#include <cstddef>
#include <cstdint>

// The code page an export without an ACP value is read in.
const unsigned CPFALLBACK = 1252;

// One supported code page's tables.
struct cpage;

// The tables of code page cp, or nullptr for one we do not support
// (874, 932, 936, 949, 950 and 1250 to 1258 are).
const cpage *cpfind(unsigned cp);
// The tables text is read in when the ACP is cp: cp's, or CPFALLBACK's.
const cpage *cpfor(unsigned cp);

// MultiByteToWideChar(cp, 0): n bytes to UTF-16 code units, at most one per
// byte. Returns the units written.
size_t cptowide(const cpage *p, const unsigned char *s, size_t n, char16_t *out);

// WideCharToMultiByte(cp, 0), each code unit on its own as the "A" calls
// convert (a surrogate pair gives two '?'): a character the code page
// cannot hold becomes Windows' best fit, or '?'. At most two bytes per unit.
// Returns the bytes written.
size_t cpfromwide(const cpage *p, const char16_t *s, size_t n, char *out);

// Windows' upper case of a UTF-16 code unit (RtlUpcaseUnicodeChar), by
// which names match and subkeys sort.
char16_t cpupper(char16_t c);
