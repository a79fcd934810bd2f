#include "regtext.h"

#include <cstring>

#include "codepage.h"
#ifdef __SSE2__
#include <emmintrin.h>
#endif

const rootkey rootkeys[MRNROOTS] = {
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_USERS", HKEY_USERS},
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

// samefold and foldless from a character beyond ASCII on, and foldhash of a
// name beyond ASCII.
bool samefoldrest(const char *a, size_t alen, const char *b, size_t blen) {
  u8units x = {(const unsigned char *)a, (const unsigned char *)a + alen, 0};
  u8units y = {(const unsigned char *)b, (const unsigned char *)b + blen, 0};
  for (;;) {
    int c = u8next(x), d = u8next(y);
    if (c < 0 || d < 0)
      return c == d;
    if (c != d && cpupper((uint16_t)c) != cpupper((uint16_t)d))
      return false;
  }
}

bool foldlessrest(const char *a, size_t alen, const char *b, size_t blen) {
  u8units x = {(const unsigned char *)a, (const unsigned char *)a + alen, 0};
  u8units y = {(const unsigned char *)b, (const unsigned char *)b + blen, 0};
  for (;;) {
    int c = u8next(x), d = u8next(y);
    if (c < 0 || d < 0)
      return c < d;
    c = cpupper((uint16_t)c);
    d = cpupper((uint16_t)d);
    if (c != d)
      return c < d;
  }
}

uint64_t foldhashrest(uint64_t h, const char *s, size_t n) {
  u8units u = {(const unsigned char *)s, (const unsigned char *)s + n, 0};
  for (int c; (c = u8next(u)) >= 0;)
    h = (h ^ cpupper((uint16_t)c)) * 1099511628211ull;
  return h;
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
    // Most text is ASCII: eight or four characters at a time while it is.
#ifdef __SSE2__
    const __m128i high = _mm_set1_epi16((short)0xff80);
    while (i + 8 <= n) {
      __m128i v = _mm_loadu_si128((const __m128i *)(s + 2 * i));
      if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, high), _mm_setzero_si128())) != 0xffff)
        break;
      _mm_storel_epi64((__m128i *)o, _mm_packus_epi16(v, v));
      o += 8;
      i += 8;
    }
#endif
    while (i + 4 <= n) {
      uint64_t w;
      memcpy(&w, s + 2 * i, 8);
      if ((w & 0xff80ff80ff80ff80ull) != 0)
        break;
      o[0] = (char)s[2 * i];
      o[1] = (char)s[2 * i + 2];
      o[2] = (char)s[2 * i + 4];
      o[3] = (char)s[2 * i + 6];
      o += 4;
      i += 4;
    }
    if (i == n)
      break;
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
