#include "regtext.h"

#include <algorithm>
#include <bit>

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

std::u16string utf8to16(std::string_view s) {
  static const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};  // the smallest of each length
  std::u16string out;
  for (size_t k = 0; k < s.size();) {
    // A lead byte's leading ones give its sequence's length n, and each
    // byte after it six bits; well-formed at its shortest, no surrogate.
    int ones = std::countl_one((unsigned char)s[k]);
    size_t n = ones == 0 ? 1 : ones == 1 || ones > 4 ? 0 : (size_t)ones, i = 1;
    char32_t c = (unsigned char)s[k] & (0x7f >> ones);
    for (; i < n && k + i < s.size() && (s[k + i] & 0xc0) == 0x80; i++)
      c = c << 6 | (s[k + i] & 0x3f);
    bool ok = n > 0 && i == n && c >= least[n] && c <= 0x10ffff && (c < 0xd800 || c >= 0xe000);
    k += ok ? n : 1;
    c = ok ? c : 0xfffd;
    if (c >= 0x10000) {
      out += (char16_t)(0xd800 + ((c - 0x10000) >> 10));
      c = 0xdc00 + (c & 0x3ff);
    }
    out += (char16_t)c;
  }
  return out;
}
