// comserial-collect: writes what comserial reads from this machine's
// registry into one export file, for comserial to read elsewhere (the Linux
// build, or comserial.html in a browser).
//
//   comserial-collect [FILE]
//
// Without FILE it writes comserial-<computer name>.reg on the desktop (or,
// without one, in the user's profile folder). It needs no administrator
// rights: it opens keys for reading only and writes nothing to the registry.
//
// It walks exactly what comserial walks, and nothing else leaves the machine:
//   - the values of HARDWARE\DEVICEMAP\SERIALCOMM;
//   - the names of SYSTEM\CurrentControlSet\Enum\FTDIBUS's subkeys; of each
//     device key comserial opens, its instance subkeys, and of each instance
//     its values and the names of its subkeys (written as empty keys, never
//     opened: Windows keeps a Properties key there that only SYSTEM may open,
//     which is what makes `reg export` of the tree lose keys);
//   - the values of SYSTEM\CurrentControlSet\Services\FTDIBUS\Enum, and the
//     values of each device instance key comserial opens from them, found
//     by the path comserial builds and written under the name the registry
//     spells it with;
//   - the values of SYSTEM\CurrentControlSet\Control\Nls\CodePage, whose ACP
//     tells the reader the code page comserial.exe gets its text in.
//
// Names and data are read with the wide-character calls and kept exactly:
// the file is UTF-16, as regedit writes it, and a value whose data is not a
// plain terminated string or a four-byte DWORD goes out as hex with its type.
//
// A key that is not on this machine (ERROR_FILE_NOT_FOUND) is left out, as
// comserial finds it missing here too; a `;` line in the file and one on the
// screen say so, and that is no failure. A key that is there but cannot be
// read (access denied, say) is left out too, with the reason in the file and
// on the screen, and the walk goes on.
//
// Exit status: 0 when everything there was read, 1 when some key could not
// be, 2 when the file could not be written.
#include <windows.h>
// After windows.h, which they need.
#include <conio.h>
#include <shlobj.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "ftdi.h"

namespace {

// ASCII text as UTF-16.
std::wstring wide(std::string_view s) {
  return std::wstring(s.begin(), s.end());
}

const std::wstring mapkey = wide(MAPKEY);
const std::wstring buskey = wide(BUSKEY);
const std::wstring listkey = wide(LISTKEY);
const std::wstring cpkey = L"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage";
const wchar_t root[] = L"HKEY_LOCAL_MACHINE\\";

// comserial's buffers (BUFSIZE) hold 8192 bytes; a path that does not fit
// in one is never opened.
const size_t bufsize = 8192;

struct value {
  std::wstring name;
  DWORD type;
  std::vector<BYTE> data;
};

struct collect {
  std::wstring out;             // the export so far
  std::set<std::wstring> done;  // the instance keys written or tried, by path
  int status = 0;
};

// Writes a line to the screen: to a console as it is, elsewhere in the
// console's code page (the system's ANSI one without a console).
void say(const std::wstring &s) {
  HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
  std::wstring line = s + L"\r\n";
  DWORD mode, n;
  if (GetConsoleMode(h, &mode)) {
    WriteConsoleW(h, line.data(), (DWORD)line.size(), &n, nullptr);
    return;
  }
  UINT cp = GetConsoleOutputCP();
  if (cp == 0)
    cp = CP_ACP;
  int len = WideCharToMultiByte(cp, 0, line.data(), (int)line.size(), nullptr, 0, nullptr, nullptr);
  std::string bytes(len, 0);
  WideCharToMultiByte(cp, 0, line.data(), (int)line.size(), bytes.data(), len, nullptr, nullptr);
  WriteFile(h, bytes.data(), (DWORD)len, &n, nullptr);
}

// Windows' own text for an error, on one line, with its number.
std::wstring errtext(LONG err) {
  wchar_t *msg = nullptr;
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                 nullptr, (DWORD)err, 0, (wchar_t *)&msg, 0, nullptr);
  std::wstring s = msg ? msg : L"unknown error";
  LocalFree(msg);
  for (wchar_t &c : s)
    if (c == '\r' || c == '\n')
      c = ' ';
  while (!s.empty() && s.back() == ' ')
    s.pop_back();
  wchar_t num[32];
  swprintf(num, 32, L" (error %ld)", err);
  return s + num;
}

// Says on the screen and in the file what became of a key: not there, which
// is no failure, or not read, which is.
void note(collect &c, const std::wstring &path, const std::wstring &what, LONG err) {
  std::wstring line;
  if (err == ERROR_FILE_NOT_FOUND) {
    line = L"not on this machine, left out: " + (root + path);
  } else {
    line = L"cannot " + what + L" " + root + path + L": " + errtext(err);
    c.status = 1;
  }
  say(line);
  c.out += L"\r\n; " + line + L"\r\n";
}

bool openkey(collect &c, HKEY parent, const std::wstring &name, const std::wstring &path, REGSAM sam,
             HKEY *key) {
  LONG ret = RegOpenKeyExW(parent, name.c_str(), 0, sam, key);
  if (ret != ERROR_SUCCESS)
    note(c, path, L"read", ret);
  return ret == ERROR_SUCCESS;
}

// The names of a key's subkeys, as far as they could be listed.
std::vector<std::wstring> subkeys(collect &c, HKEY key, const std::wstring &path) {
  std::vector<std::wstring> names;
  wchar_t name[256];
  for (DWORD i = 0;; i++) {
    DWORD n = 256;
    LONG ret = RegEnumKeyExW(key, i, name, &n, nullptr, nullptr, nullptr, nullptr);
    if (ret == ERROR_NO_MORE_ITEMS)
      break;
    if (ret != ERROR_SUCCESS) {
      note(c, path, L"list the subkeys of", ret);
      break;
    }
    names.emplace_back(name, n);
  }
  return names;
}

// A key's values, data of any size read whole.
std::vector<value> values(collect &c, HKEY key, const std::wstring &path) {
  std::vector<value> vals;
  std::vector<wchar_t> name(16384);
  std::vector<BYTE> data(4096);
  for (DWORD i = 0;;) {
    DWORD n = (DWORD)name.size(), size = (DWORD)data.size(), type;
    LONG ret = RegEnumValueW(key, i, name.data(), &n, nullptr, &type, data.data(), &size);
    if (ret == ERROR_MORE_DATA && size > data.size()) {
      data.resize(size);
      continue;
    }
    if (ret == ERROR_NO_MORE_ITEMS)
      break;
    if (ret != ERROR_SUCCESS) {
      note(c, path, L"read the values of", ret);
      break;
    }
    vals.push_back(
        {std::wstring(name.data(), n), type, std::vector<BYTE>(data.begin(), data.begin() + size)});
    i++;
  }
  return vals;
}

bool istext(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// A name or string between quotes, as regedit escapes it.
std::wstring quote(const std::wstring &s) {
  std::wstring q = L"\"";
  for (wchar_t ch : s) {
    if (ch == '\\' || ch == '"')
      q += '\\';
    if (ch == '\r' || ch == '\n')
      q += ch == '\r' ? L"\\r" : L"\\n";
    else
      q += ch;
  }
  return q + L"\"";
}

// Whether data is a string regedit's "..." gives back as it is: whole
// characters, one terminator at the end and no other zero, no line breaks.
bool plainstring(const value &v) {
  size_t n = v.data.size() / 2;
  if (v.type != REG_SZ || v.data.size() % 2 != 0 || n == 0)
    return false;
  const wchar_t *s = (const wchar_t *)v.data.data();
  for (size_t i = 0; i + 1 < n; i++)
    if (s[i] == 0 || s[i] == '\r' || s[i] == '\n')
      return false;
  return s[n - 1] == 0;
}

void keyline(collect &c, const std::wstring &path) {
  c.out += L"\r\n[";
  c.out += root;
  c.out += path;
  c.out += L"]\r\n";
}

void valuelines(collect &c, const std::wstring &path, const std::vector<value> &vals) {
  wchar_t hex[16];
  for (const value &v : vals) {
    // Nothing in an export stands for a zero inside a value's name.
    if (v.name.find(L'\0') != std::wstring::npos) {
      note(c, path, L"write a value whose name holds a zero, in", ERROR_INVALID_DATA);
      continue;
    }
    std::wstring line = v.name.empty() ? L"@=" : quote(v.name) + L"=";
    if (plainstring(v)) {
      line += quote(std::wstring((const wchar_t *)v.data.data(), v.data.size() / 2 - 1));
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
      DWORD d;
      memcpy(&d, v.data.data(), 4);
      swprintf(hex, 16, L"dword:%08x", (unsigned)d);
      line += hex;
    } else {
      if (v.type == REG_BINARY)
        swprintf(hex, 16, L"hex:");
      else
        swprintf(hex, 16, L"hex(%x):", (unsigned)v.type);
      line += hex;
      // Wrapped as regedit wraps it: a line ends in ",\" before 80 columns
      // and the next goes on two blanks in.
      size_t col = line.size();
      for (size_t i = 0; i < v.data.size(); i++) {
        swprintf(hex, 16, L"%02x", v.data[i]);
        line += hex;
        col += 2;
        if (i + 1 == v.data.size())
          break;
        line += ',';
        col++;
        if (col > 76) {
          line += L"\\\r\n  ";
          col = 2;
        }
      }
    }
    c.out += line;
    c.out += L"\r\n";
  }
}

// A key whose values comserial reads.
std::vector<value> valuekey(collect &c, const std::wstring &path) {
  HKEY key;
  if (!openkey(c, HKEY_LOCAL_MACHINE, path, path, KEY_QUERY_VALUE, &key))
    return {};
  std::vector<value> vals = values(c, key, path);
  RegCloseKey(key);
  keyline(c, path);
  valuelines(c, path, vals);
  say(L"read " + (root + path));
  return vals;
}

// An instance key of a device: its values, and its subkeys by name alone.
void instance(collect &c, HKEY device, const std::wstring &name, const std::wstring &path) {
  c.done.insert(path);
  HKEY key;
  if (!openkey(c, device, name, path, KEY_READ, &key))
    return;
  std::vector<std::wstring> names = subkeys(c, key, path);
  std::vector<value> vals = values(c, key, path);
  RegCloseKey(key);
  keyline(c, path);
  valuelines(c, path, vals);
  for (const std::wstring &sub : names)
    keyline(c, path + L"\\" + sub);
}

// The device tree: every subkey's name, and below the device keys comserial
// opens (its own prefixes, case and all) their instances.
void bus(collect &c) {
  const std::wstring &top = buskey;
  HKEY key;
  if (!openkey(c, HKEY_LOCAL_MACHINE, top, top, KEY_READ, &key))
    return;
  std::vector<std::wstring> names = subkeys(c, key, top);
  keyline(c, top);
  for (const std::wstring &name : names) {
    std::wstring path = top + L"\\" + name;
    bool device = false;
    for (std::string_view prefix : DEVPREFIX)
      device = device || (name.size() > prefix.size() && name.compare(0, prefix.size(), wide(prefix)) == 0);
    HKEY dev;
    if (!device) {
      keyline(c, path);
    } else if (openkey(c, key, name, path, KEY_READ, &dev)) {
      keyline(c, path);
      for (const std::wstring &inst : subkeys(c, dev, path))
        instance(c, dev, inst, path + L"\\" + inst);
      RegCloseKey(dev);
    }
  }
  RegCloseKey(key);
  say(L"read " + (root + top));
}

// The path of a key below the device tree that opens, its names spelled as
// the registry spells them (they match without case). A name whose parent
// cannot be listed is kept as given.
std::wstring spelled(const std::wstring &path) {
  std::wstring have = buskey;
  size_t i = have.size() + 1;
  while (i <= path.size()) {
    size_t j = path.find(L'\\', i);
    if (j == std::wstring::npos)
      j = path.size();
    std::wstring name = path.substr(i, j - i);
    i = j + 1;
    if (name.empty())
      continue;
    HKEY parent;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, have.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, &parent) ==
        ERROR_SUCCESS) {
      wchar_t sub[256];
      for (DWORD k = 0;; k++) {
        DWORD n = 256;
        if (RegEnumKeyExW(parent, k, sub, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
          break;
        if (CompareStringOrdinal(sub, (int)n, name.data(), (int)name.size(), TRUE) == CSTR_EQUAL) {
          name.assign(sub, n);
          break;
        }
      }
      RegCloseKey(parent);
    }
    have += L"\\" + name;
  }
  return have;
}

// One entry of the driver's list: the device instance key comserial opens
// for it, if it is one of an adapter. comserial gets the data through the
// ANSI calls, text in the system's code page, and builds the key's path from
// those bytes; the registry turns the path back into UTF-16 to open it.
void adapter(collect &c, const value &v) {
  std::string a;
  if (istext(v.type)) {
    int units = (int)(v.data.size() / 2);
    const wchar_t *s = (const wchar_t *)v.data.data();
    a.resize(2 * (size_t)units);
    a.resize(units ? WideCharToMultiByte(CP_ACP, 0, s, units, a.data(), (int)a.size(), nullptr, nullptr) : 0);
  } else {
    a.assign(v.data.begin(), v.data.end());
  }
  int which = prefixof(a.data(), a.size(), IDPREFIX);
  if (which < 0)
    return;
  // The serial number runs to the first zero byte, or to the data's end.
  size_t len = IDPREFIX[which].size();
  std::string path = std::string(BUSKEY) + "\\" + std::string(DEVPREFIX[which]) +
                     a.substr(len, a.find('\0', len) - len) + INSTANCESUFFIX;
  if (path.size() > bufsize - 1)
    return;
  std::wstring wpath(path.size(), 0);
  wpath.resize(
      MultiByteToWideChar(CP_ACP, 0, path.data(), (int)path.size(), wpath.data(), (int)wpath.size()));
  if (c.done.count(wpath))
    return;
  c.done.insert(wpath);
  HKEY key;
  if (!openkey(c, HKEY_LOCAL_MACHINE, wpath, wpath, KEY_QUERY_VALUE, &key))
    return;
  std::wstring real = spelled(wpath);
  if (c.done.insert(real).second) {
    std::vector<value> vals = values(c, key, real);
    keyline(c, real);
    valuelines(c, real, vals);
  }
  RegCloseKey(key);
}

// FOLDERID_Desktop, spelt out here: taking it from libuuid links in every
// GUID the library has.
const GUID desktopid = {0xb4bfcc3a, 0xdb2c, 0x424c, {0xb0, 0x29, 0x7f, 0xe9, 0x9a, 0x87, 0xc6, 0x41}};

std::wstring defaultfile() {
  std::wstring dir;
  wchar_t *desktop = nullptr;
  if (SHGetKnownFolderPath(desktopid, 0, nullptr, &desktop) == S_OK)
    dir = desktop;
  CoTaskMemFree(desktop);
  if (dir.empty()) {
    wchar_t buf[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"USERPROFILE", buf, MAX_PATH);
    if (n > 0 && n < MAX_PATH)
      dir = buf;
  }
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
  std::wstring file = L"comserial-" + std::wstring(GetComputerNameW(name, &n) ? name : L"machine") + L".reg";
  return dir.empty() ? file : dir + L"\\" + file;
}

// A double click gives the program a console of its own, which closes with
// it: then it waits, so that what it said can be read.
int finish(int status) {
  DWORD ids[2];
  if (GetConsoleProcessList(ids, 2) == 1) {
    say(L"Press any key to close this window.");
    _getch();
  }
  return status;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  std::wstring file = argc > 1 ? argv[1] : defaultfile();
  wchar_t full[4096];
  DWORD n = GetFullPathNameW(file.c_str(), 4096, full, nullptr);
  if (n > 0 && n < 4096)
    file = full;
  HANDLE h =
      CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    say(L"cannot write \"" + file + L"\": " + errtext((LONG)GetLastError()));
    return finish(2);
  }

  collect c;
  c.out = L"\xfeffWindows Registry Editor Version 5.00\r\n";
  valuekey(c, mapkey);
  bus(c);
  for (const value &v : valuekey(c, listkey))
    adapter(c, v);
  valuekey(c, cpkey);
  c.out += L"\r\n";

  const char *p = (const char *)c.out.data();
  size_t left = 2 * c.out.size();
  DWORD wrote = 0;
  while (left > 0 && WriteFile(h, p, left > (1u << 30) ? 1u << 30 : (DWORD)left, &wrote, nullptr) &&
         wrote > 0) {
    p += wrote;
    left -= wrote;
  }
  LONG err = left > 0 ? (LONG)GetLastError() : 0;
  if (!CloseHandle(h) && err == 0)
    err = (LONG)GetLastError();
  if (left > 0 || err != 0) {
    DeleteFileW(file.c_str());
    say(L"cannot write \"" + file + L"\": " + errtext(err));
    return finish(2);
  }

  say(L"");
  say(L"The registry keys are in \"" + file + L"\"");
  if (c.status != 0)
    say(L"Some keys could not be read: the lines above, and the file, say which.");
  say(L"To read it without Linux, open comserial.html (from comserial's zip) in a web");
  say(L"browser and choose that file: it shows what comserial.exe prints here.");
  say(L"On Linux:  comserial < FILE");
  return finish(c.status);
}
