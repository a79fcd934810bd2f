// regset: stores registry values byte for byte, for making test registries
// under Wine that regedit's import cannot (it appends a terminator to string
// data that has none, and pads string-typed hex data of odd length).
//
//   regset KEY [NAME TYPE DATA]...
//
// KEY is the full key path from its root: HKLM\..., HKEY_LOCAL_MACHINE\...,
// HKCU\... or HKEY_CURRENT_USER\...; the key and its missing parents are
// created (RegCreateKeyExW). Each NAME TYPE DATA triple then stores one value
// with RegSetValueExW:
//   NAME  the value name; an empty argument is the default value;
//   TYPE  the value type as a number, decimal or 0x-prefixed hex;
//   DATA  the bytes in hex, two digits each, optionally separated by commas
//         or spaces (so an export's hex list can be pasted); empty for none.
// KEY and NAME are UTF-8, with any byte written as %HH (so %25 for a percent
// sign): the arguments stay ASCII whatever the locale and code page, and the
// text is turned into UTF-16 with MultiByteToWideChar(CP_UTF8). For example
//   regset HKLM\SYSTEM\k%C3%A9y caf%C3%A9 1 "63,00,61"
// stores in HKLM\SYSTEM\kéy a REG_SZ value named café holding three bytes.
//
//   regset -system KEY
//   regset -everyone KEY
//
// set the access list of KEY, which must exist: -system lets SYSTEM alone
// open it (as Windows has each device instance's Properties key), -everyone
// lets anyone open it and every key below it again, so that the tree can be
// deleted. The owner may change the list either way.
//
// Exit status 0 when everything was stored, 1 at the first failure (with a
// line on standard error), 2 on bad arguments.
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int hexdigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// Percent-decoded UTF-8 to UTF-16; false on a bad escape or bad UTF-8.
bool widen(const char *arg, std::wstring &out) {
  std::string bytes;
  for (const char *p = arg; *p; p++) {
    if (*p != '%') {
      bytes += *p;
      continue;
    }
    int hi = hexdigit(p[1]);
    int lo = hi < 0 ? -1 : hexdigit(p[2]);
    if (lo < 0) {
      return false;
    }
    bytes += static_cast<char>(hi * 16 + lo);
    p += 2;
  }
  out.clear();
  if (bytes.empty()) {
    return true;
  }
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                              nullptr, 0);
  if (n <= 0) {
    return false;
  }
  out.resize(n);
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), out.data(),
                      n);
  return true;
}

bool unhex(const char *arg, std::vector<BYTE> &out) {
  out.clear();
  for (const char *p = arg; *p;) {
    if (*p == ',' || *p == ' ') {
      p++;
      continue;
    }
    int hi = hexdigit(p[0]);
    int lo = hi < 0 ? -1 : hexdigit(p[1]);
    if (lo < 0) {
      return false;
    }
    out.push_back(static_cast<BYTE>(hi * 16 + lo));
    p += 2;
  }
  return true;
}

bool splitroot(const std::wstring &path, HKEY &root, std::wstring &sub) {
  static const struct {
    const wchar_t *name;
    HKEY key;
  } roots[] = {{L"HKLM", HKEY_LOCAL_MACHINE},
               {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
               {L"HKCU", HKEY_CURRENT_USER},
               {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER}};
  size_t cut = path.find(L'\\');
  std::wstring first = path.substr(0, cut);
  for (const auto &r : roots) {
    if (_wcsicmp(first.c_str(), r.name) == 0) {
      root = r.key;
      sub = cut == std::wstring::npos ? std::wstring() : path.substr(cut + 1);
      return true;
    }
  }
  return false;
}

// Sets the access list of an existing key, and with tree of every key below
// it, to sd.
LONG setsd(HKEY root, const std::wstring &sub, PSECURITY_DESCRIPTOR sd, bool tree) {
  HKEY key;
  LONG ret = RegOpenKeyExW(root, sub.c_str(), 0, WRITE_DAC, &key);
  if (ret != ERROR_SUCCESS) {
    return ret;
  }
  ret = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd);
  RegCloseKey(key);
  if (ret != ERROR_SUCCESS || !tree) {
    return ret;
  }
  std::vector<std::wstring> names;
  ret = RegOpenKeyExW(root, sub.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, &key);
  if (ret != ERROR_SUCCESS) {
    return ret;
  }
  wchar_t name[256];
  DWORD n = 256;
  for (DWORD i = 0; RegEnumKeyExW(key, i, name, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
       i++) {
    names.emplace_back(name, n);
    n = 256;
  }
  RegCloseKey(key);
  for (const std::wstring &child : names) {
    ret = setsd(root, sub + L"\\" + child, sd, true);
    if (ret != ERROR_SUCCESS) {
      return ret;
    }
  }
  return ERROR_SUCCESS;
}

// Sets the access list of an existing key (and with tree, of those below it)
// from SDDL.
int setaccess(const char *arg, const wchar_t *sddl, bool tree) {
  std::wstring path, sub;
  HKEY root;
  if (!widen(arg, path) || !splitroot(path, root, sub)) {
    std::fprintf(stderr, "regset: bad key path %s\n", arg);
    return 2;
  }
  PSECURITY_DESCRIPTOR sd;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr)) {
    std::fprintf(stderr, "regset: bad SDDL: error %lu\n", GetLastError());
    return 1;
  }
  LONG ret = setsd(root, sub, sd, tree);
  LocalFree(sd);
  if (ret != ERROR_SUCCESS) {
    std::fprintf(stderr, "regset: cannot set the access list of %s: error %ld\n", arg, ret);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 3 && std::strcmp(argv[1], "-system") == 0) {
    return setaccess(argv[2], L"D:P(A;;KA;;;SY)", false);
  }
  if (argc == 3 && std::strcmp(argv[1], "-everyone") == 0) {
    return setaccess(argv[2], L"D:P(A;;KA;;;WD)", true);
  }
  if (argc < 2 || (argc - 2) % 3 != 0) {
    std::fprintf(stderr, "usage: regset KEY [NAME TYPE DATA]... | -system KEY | -everyone KEY\n");
    return 2;
  }
  std::wstring path, sub;
  HKEY root;
  if (!widen(argv[1], path) || !splitroot(path, root, sub)) {
    std::fprintf(stderr, "regset: bad key path %s\n", argv[1]);
    return 2;
  }
  HKEY key;
  LONG ret = RegCreateKeyExW(root, sub.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (ret != ERROR_SUCCESS) {
    std::fprintf(stderr, "regset: cannot create %s: error %ld\n", argv[1], ret);
    return 1;
  }
  int status = 0;
  for (int i = 2; i < argc && status == 0; i += 3) {
    std::wstring name;
    std::vector<BYTE> data;
    char *end;
    unsigned long type = std::strtoul(argv[i + 1], &end, 0);
    if (!widen(argv[i], name) || !*argv[i + 1] || *end || !unhex(argv[i + 2], data)) {
      std::fprintf(stderr, "regset: bad value %s %s %s\n", argv[i], argv[i + 1], argv[i + 2]);
      status = 2;
      break;
    }
    // For string types RegSetValueExW adds a terminator the caller seems to
    // have left out of the count: when the last character is not zero and a
    // zero character follows the data in memory. Nonzero bytes after the data
    // keep the count as given.
    DWORD size = static_cast<DWORD>(data.size());
    data.insert(data.end(), 3, 0xff);
    ret = RegSetValueExW(key, name.c_str(), 0, type, data.data(), size);
    if (ret != ERROR_SUCCESS) {
      std::fprintf(stderr, "regset: cannot store %s in %s: error %ld\n", argv[i], argv[1], ret);
      status = 1;
    }
  }
  RegCloseKey(key);
  return status;
}
