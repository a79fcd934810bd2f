// Windows' ANSI code pages and upper case, as the "A" registry calls and
// regedit use them. Everything is looked up in the tables of cptables.inc,
// which scripts/gencptables makes from Wine; nothing here allocates or
// keeps state.
#pragma once

#include <cstddef>
#include <cstdint>

// The code page an export without an ACP value is read in.
const unsigned CPFALLBACK = 1252;
// UTF-8, the ANSI code page of a machine set to "Use Unicode UTF-8 for
// worldwide language support".
const unsigned CPUTF8 = 65001;
// The most bytes one UTF-16 code unit becomes in any code page we support
// (UTF-8's three; a surrogate pair becomes four).
const size_t CPMAXBYTES = 3;

// One supported code page's tables.
struct cpage;

// The tables of code page cp, or nullptr for one we do not support
// (874, 932, 936, 949, 950, 1250 to 1258 and 65001 are).
const cpage *cpfind(unsigned cp);
// The tables text is read in when the ACP is cp: cp's, or CPFALLBACK's.
const cpage *cpfor(unsigned cp);

// MultiByteToWideChar(cp, 0): n bytes to UTF-16 code units, at most one per
// byte. In UTF-8 a byte that starts no well-formed sequence (at its
// shortest, no surrogate, at most U+10FFFF) becomes U+FFFD on its own.
// Returns the units written.
size_t cptowide(const cpage *p, const unsigned char *s, size_t n, char16_t *out);

// WideCharToMultiByte(cp, 0), as the "A" calls convert: in the table code
// pages each code unit on its own (a surrogate pair gives two '?'), a
// character the code page cannot hold becoming Windows' best fit or '?'; in
// UTF-8 a surrogate pair gives its character's four bytes and an unpaired
// surrogate U+FFFD's three. At most CPMAXBYTES bytes per unit. Returns the
// bytes written.
size_t cpfromwide(const cpage *p, const char16_t *s, size_t n, char *out);

// How many code units the character at s (n units at most) takes: 2 for a
// surrogate pair, else 1.
size_t cpcharunits(const char16_t *s, size_t n);

// Windows' upper case of a UTF-16 code unit (RtlUpcaseUnicodeChar), by
// which names match and subkeys sort.
char16_t cpupper(char16_t c);
