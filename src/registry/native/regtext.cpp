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

std::u16string utf8to16(std::string_view s) {
  std::u16string out(s.size(), u'\0');
  out.resize(cptowide(cpfind(CPUTF8), (const unsigned char *)s.data(), s.size(), out.data()));
  return out;
}
