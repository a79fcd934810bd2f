#include "regtext.h"

#include <cstring>

const rootkey rootkeys[MRNROOTS] = {
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_USERS", HKEY_USERS},
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

bool samefold(const char *a, size_t alen, const char *b, size_t blen) {
  if (alen != blen)
    return false;
  for (size_t k = 0; k < alen; k++)
    if (fold(a[k]) != fold(b[k]))
      return false;
  return true;
}

int rootbyname(const char *s, size_t n) {
  for (int r = 0; r < MRNROOTS; r++)
    if (samefold(s, n, rootkeys[r].name, strlen(rootkeys[r].name)))
      return r;
  return -1;
}

int rootbyhandle(HKEY h) {
  for (int r = 0; r < MRNROOTS; r++)
    if (rootkeys[r].hkey == h)
      return r;
  return -1;
}

size_t utf16to8(const unsigned char *s, size_t n, char *out) {
  char *o = out;
  for (size_t i = 0; i < n; i++) {
    uint32_t c = s[2 * i] | (uint32_t)s[2 * i + 1] << 8;
    if (c < 0x80) {
      *o++ = (char)c;
      continue;
    }
    if (c - 0xd800 < 0x800) {
      uint32_t d = i + 1 < n ? s[2 * i + 2] | (uint32_t)s[2 * i + 3] << 8 : 0;
      if (c < 0xdc00 && d - 0xdc00 < 0x400) {
        c = 0x10000 + ((c - 0xd800) << 10) + (d - 0xdc00);
        i++;
      } else {
        c = 0xfffd;
      }
    }
    if (c < 0x800) {
      *o++ = (char)(0xc0 | c >> 6);
    } else {
      if (c < 0x10000) {
        *o++ = (char)(0xe0 | c >> 12);
      } else {
        *o++ = (char)(0xf0 | c >> 18);
        *o++ = (char)(0x80 | ((c >> 12) & 0x3f));
      }
      *o++ = (char)(0x80 | ((c >> 6) & 0x3f));
    }
    *o++ = (char)(0x80 | (c & 0x3f));
  }
  return o - out;
}
