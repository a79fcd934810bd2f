// cpdump: writes, into the current directory, how Windows converts text in
// its ANSI code pages and upper-cases names, for scripts/gencptables (not
// shipped). Run it under Wine:
//
//   wine cpdump.exe
//
// For each code page CP, wcCP.txt holds one line per BMP character from
// U+0080 on (surrogates left out): the character and the bytes
// WideCharToMultiByte(CP, 0) gives for it. mbCP.txt holds one line per byte
// from 0x80 on, and for a lead byte one per lead and trail byte pair: the
// bytes and the characters MultiByteToWideChar(CP, 0) gives for them.
// upcase.txt holds each BMP character and RtlUpcaseUnicodeChar's answer.
#include <windows.h>

#include <cstdio>

namespace {

const int cps[] = {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};

typedef WCHAR(WINAPI *upcasefn)(WCHAR);

void dumpcp(int cp) {
  char fn[32];
  snprintf(fn, sizeof fn, "wc%d.txt", cp);
  FILE *f = fopen(fn, "wb");
  for (unsigned c = 0x80; c < 0x10000; c++) {
    if (c >= 0xd800 && c < 0xe000)
      continue;
    WCHAR w = (WCHAR)c;
    unsigned char b[8];
    int n = WideCharToMultiByte(cp, 0, &w, 1, (char *)b, sizeof b, nullptr, nullptr);
    fprintf(f, "%04x", c);
    for (int k = 0; k < n; k++)
      fprintf(f, " %02x", b[k]);
    fprintf(f, "\n");
  }
  fclose(f);
  snprintf(fn, sizeof fn, "mb%d.txt", cp);
  f = fopen(fn, "wb");
  for (unsigned b = 0x80; b < 0x100; b++) {
    bool lead = IsDBCSLeadByteEx(cp, (BYTE)b);
    for (unsigned t = 0; t < (lead ? 0x100u : 1u); t++) {
      char s[2] = {(char)b, (char)t};
      WCHAR w[4];
      int n = MultiByteToWideChar(cp, 0, s, lead ? 2 : 1, w, 4);
      fprintf(f, lead ? "%02x%02x" : "%02x", b, t);
      for (int k = 0; k < n; k++)
        fprintf(f, " %04x", w[k]);
      fprintf(f, "\n");
    }
  }
  fclose(f);
}

}  // namespace

int main() {
  for (int cp : cps)
    dumpcp(cp);
  auto up = (upcasefn)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlUpcaseUnicodeChar");
  if (!up)
    return 1;
  FILE *f = fopen("upcase.txt", "wb");
  for (unsigned c = 0; c < 0x10000; c++)
    fprintf(f, "%04x %04x\n", c, up((WCHAR)c));
  fclose(f);
  return 0;
}
