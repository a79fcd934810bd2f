#include "regtext.h"

#include <algorithm>

#include "codepage.h"

const rootkey rootkeys[MRNROOTS] = {
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_USERS", HKEY_USERS},
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

int rootbyname(std::u16string_view s) {
  auto same = [](char16_t c, char d) { return upper(c) == (unsigned char)d; };
  for (int r = 0; r < MRNROOTS; r++)
    if (std::string_view n = rootkeys[r].name; std::equal(s.begin(), s.end(), n.begin(), n.end(), same))
      return r;
  return -1;
}

int rootbyhandle(HKEY h) {
  for (int r = 0; r < MRNROOTS; r++)
    if (rootkeys[r].hkey == h)
      return r;
  return -1;
}

namespace {

// How long a UTF-8 sequence that starts with b is, or 0 for no start.
size_t leadlen(unsigned b) {
  if (b < 0x80)
    return 1;
  if (b < 0xc2 || b >= 0xf5)
    return 0;
  return b < 0xe0 ? 2 : b < 0xf0 ? 3 : 4;
}

// The length of the well-formed UTF-8 sequence at s[k], or 0.
size_t seqlen(std::string_view s, size_t k, char32_t *c) {
  unsigned b = (unsigned char)s[k];
  size_t n = leadlen(b);
  if (n == 0 || s.size() - k < n)
    return 0;
  char32_t v = n == 1 ? b : b & (0x7f >> n);
  for (size_t i = 1; i < n; i++) {
    unsigned t = (unsigned char)s[k + i];
    if ((t & 0xc0) != 0x80)
      return 0;
    v = v << 6 | (t & 0x3f);
  }
  bool shortest = n < 3 || (n == 3 ? v >= 0x800 : v >= 0x10000);
  if (!shortest || v > 0x10ffff || (v >= 0xd800 && v < 0xe000))
    return 0;
  *c = v;
  return n;
}

}  // namespace

std::u16string utf8to16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t k = 0; k < s.size();) {
    char32_t c = 0xfffd;
    size_t n = seqlen(s, k, &c);
    k += n ? n : 1;
    if (c >= 0x10000) {
      out += (char16_t)(0xd800 + ((c - 0x10000) >> 10));
      out += (char16_t)(0xdc00 + (c & 0x3ff));
    } else {
      out += (char16_t)c;
    }
  }
  return out;
}
