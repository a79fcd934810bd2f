// cpdump: writes, into the current directory, how Windows converts text in
// its ANSI code pages and upper-cases names, for scripts/gencptables (not
// shipped). Run it under Wine, in an empty directory:
//
//   wine cpdump.exe
//
// For each code page CP, wcCP.txt holds one line per UTF-16 code unit, the
// surrogates included: the unit and the bytes WideCharToMultiByte(CP, 0)
// gives for it alone. mbCP.txt holds one line per byte, and for a lead byte
// also one per lead and trail byte pair: the bytes and the code units
// MultiByteToWideChar(CP, 0) gives for them. A lead byte's own line is the
// byte at the end of the input; its pair with trail byte 00 is the lead
// byte before a zero byte. upcase.txt holds each code unit and
// RtlUpcaseUnicodeChar's answer, and version.txt the Wine version (from
// ntdll's wine_get_version), or "Windows".
#include <windows.h>

#include <cstdio>

namespace {

const int cps[] = {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};

typedef WCHAR(WINAPI *upcasefn)(WCHAR);
typedef const char *(CDECL *versionfn)(void);

void dumpmb(FILE *f, int cp, const char *s, int n) {
  WCHAR w[4];
  int k = MultiByteToWideChar(cp, 0, s, n, w, 4);
  for (int i = 0; i < n; i++)
    fprintf(f, "%02x", (unsigned char)s[i]);
  for (int i = 0; i < k; i++)
    fprintf(f, " %04x", w[i]);
  fprintf(f, "\n");
}

void dumpcp(int cp) {
  char fn[32];
  snprintf(fn, sizeof fn, "wc%d.txt", cp);
  FILE *f = fopen(fn, "wb");
  for (unsigned c = 0; c < 0x10000; c++) {
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
  for (unsigned b = 0; b < 0x100; b++) {
    char s[2] = {(char)b, 0};
    dumpmb(f, cp, s, 1);
    if (!IsDBCSLeadByteEx(cp, (BYTE)b))
      continue;
    for (unsigned t = 0; t < 0x100; t++) {
      s[1] = (char)t;
      dumpmb(f, cp, s, 2);
    }
  }
  fclose(f);
}

}  // namespace

int main() {
  for (int cp : cps)
    dumpcp(cp);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto version = (versionfn)(void *)GetProcAddress(ntdll, "wine_get_version");
  FILE *f = fopen("version.txt", "wb");
  fprintf(f, "%s\n", version ? version() : "Windows");
  fclose(f);
  auto up = (upcasefn)(void *)GetProcAddress(ntdll, "RtlUpcaseUnicodeChar");
  if (!up)
    return 1;
  f = fopen("upcase.txt", "wb");
  for (unsigned c = 0; c < 0x10000; c++)
    fprintf(f, "%04x %04x\n", c, up((WCHAR)c));
  fclose(f);
  return 0;
}
