// The run sequence, the enumeration loops and the report lines.
#include "run.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

// Remembers the first failed write's error; the run goes on, and finish
// reports it.
static void writefailed(run &r) {
  if (r.werr == 0)
    r.werr = errno != 0 ? errno : EIO;
}

#ifndef COMSERIAL_NOPRINT
#ifdef _WIN32
// Every line is formatted here first and handed to the C runtime whole.
// MinGW's printf passes its output to the runtime one character at a time,
// and Wine's runtime writes its buffer out at each newline it gets that way,
// so a full stdout buffer would still cost a system call per line. Three
// buffers' worth holds the longest line there is: two texts of at most one
// buffer each (a name and a value, or a path and a serial) and the rest.
static char line[3 * BUFSIZE];

__attribute__((format(printf, 2, 3))) static void printline(run &r, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);
  if (n <= 0)
    return;
  size_t len = (size_t)n < sizeof line ? (size_t)n : sizeof line - 1;
  if (fwrite(line, 1, len, r.out) != len)
    writefailed(r);
}
#else
// Elsewhere the C runtime's printf copies a line into the stream's buffer
// in pieces as large as it has them: formatting straight into it saves a
// copy and the setup of a formatting pass into a string.
__attribute__((format(printf, 2, 3))) static void printline(run &r, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  if (vfprintf(r.out, fmt, ap) < 0)
    writefailed(r);
  va_end(ap);
}
#endif

#else
// The benchmarks' floor: the same registry calls, with every line compiled
// out (sizeof keeps the arguments checked and used, but not evaluated).
#define printline(r, ...) ((void)(r), (void)sizeof(printf(__VA_ARGS__)))
#endif

int comserial(run &r, int argc) {
  r.debug = 1;
  if (argc > 1)
    r.debug = 0;
  r.werr = 0;
  int status = scanserialcomm(r);
  if (status != 0)
    return status;
  status = scanftdibus(r);
  if (status != 0)
    return status;
  return scanftdiports(r);
}

int finish(run &r, int status) {
  if (fflush(r.out) != 0)
    writefailed(r);
  if (r.werr == 0 && ferror(r.out))
    r.werr = EIO;
  if (r.werr == 0)
    return status;
  fprintf(stderr, "comserial: cannot write standard output: %s\n", strerror(r.werr));
  return 3;
}

int openroot(run &r, const char *path, REGSAM sam, int failno) {
  snprintf(r.namebuf, sizeof r.namebuf, "%s", path);
  printline(r, "\n>> %s\n", r.namebuf);
  r.ret = (DWORD)RegOpenKeyExA(HKEY_LOCAL_MACHINE, r.namebuf, 0, sam, &r.hkey);
  if (r.ret != 0)
    return fail(r, "regopenkeyexa", failno);
  return 0;
}

int textlen(const BYTE *data, DWORD size) {
  if (size > BUFSIZE)
    size = BUFSIZE;
  const void *z = memchr(data, 0, size);
  return z ? (int)((const BYTE *)z - data) : (int)size;
}

int valueloop(run &r, HKEY key, DWORD &ndx, stepfn step) {
  for (ndx = 0;; ndx++) {
    r.namebufsize = BUFSIZE;
    r.valuebufsize = BUFSIZE;
    r.ret = (DWORD)RegEnumValueA(key, ndx, r.namebuf, &r.namebufsize, nullptr, &r.datatype, r.valuebuf,
                                 &r.valuebufsize);
    if (r.ret != 0)
      return 0;
    if (r.debug)
      printline(r, "namebuf=(%s) namesize=%d valuebuf=(%.*s) valuesize=%d ret=%d\n", r.namebuf,
                (int)r.namebufsize, textlen(r.valuebuf, r.valuebufsize), (const char *)r.valuebuf,
                (int)r.valuebufsize, (int)r.ret);
    if (step != nullptr) {
      int status = step(r);
      if (status != 0)
        return status;
    }
  }
}

int subkeyloop(run &r, HKEY key, DWORD &ndx, stepfn step) {
  for (ndx = 0;; ndx++) {
    r.namebufsize = BUFSIZE;
    r.ret = (DWORD)RegEnumKeyExA(key, ndx, r.namebuf, &r.namebufsize, nullptr, nullptr, nullptr, nullptr);
    if (r.ret != 0)
      return 0;
    if (r.debug)
      printline(r, "namebuf=(%s) namesize=%d ret=%d\n", r.namebuf, (int)r.namebufsize, (int)r.ret);
    if (step != nullptr) {
      int status = step(r);
      if (status != 0)
        return status;
    }
  }
}

int fail(run &r, const char *op, int n) {
  printline(r, "%s %d namebuf=(%s) ret=%d\n", op, n, r.namebuf, (int)r.ret);
  return 1;
}

void pair(run &r, const char *left, const char *right, int rightlen) {
  printline(r, "%s=%.*s\n", left, rightlen, right);
}

DWORD buildpath(run &r, std::initializer_list<std::string_view> parts) {
  // Copied piece by piece: a path is built for every adapter, and this is
  // no line of output.
  size_t n = 0;
  DWORD ret = 0;
  for (std::string_view p : parts) {
    size_t len = p.size();
    if (len > sizeof r.namebuf - 1 - n) {
      len = sizeof r.namebuf - 1 - n;
      ret = ERROR_FILENAME_EXCED_RANGE;
    }
    memcpy(r.namebuf + n, p.data(), len);
    n += len;
  }
  r.namebuf[n] = 0;
  return ret;
}
