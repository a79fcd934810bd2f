// The run record that every scan works in, the enumeration loops, and every
// line the tool prints.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string_view>

#include "registry.h"

const DWORD BUFSIZE = 8192;

struct run {
  int debug;
  char namebuf[BUFSIZE];
  BYTE valuebuf[BUFSIZE];
  char ftdiserial[BUFSIZE];
  char comport[BUFSIZE];
  char hkeynamebuf2[BUFSIZE];
  DWORD namebufsize;
  DWORD valuebufsize;
  DWORD datatype;
  HKEY hkey, hkey2, hkey3;
  DWORD ndx, ndx2, ndx3;
  DWORD ret;
  int i, j;
  FILE *out;
  int werr;  // the error of the first line that could not be written, or 0
};

// A scan's per-item step: 0 to go on, or the exit status that ends the run.
typedef int (*stepfn)(run &r);

// Runs the three scans; returns the exit status.
int comserial(run &r, int argc);
// Ends a run that returned status: flushes out and returns status, or, when
// any of the run's output could not be written, says why on standard error
// and returns 3.
int finish(run &r, int status);

// Places path in namebuf, prints the section header and opens the key into
// hkey; prints "regopenkeyexa <failno> ..." and returns 1 when it fails.
int openroot(run &r, const char *path, REGSAM sam, int failno);

// Enumerate a key's values or subkeys by index, printing the dump lines in
// debug mode. Any nonzero result of the registry ends the loop and returns 0;
// a step that returns nonzero ends it with that status.
int valueloop(run &r, HKEY key, DWORD &ndx, stepfn step);
int subkeyloop(run &r, HKEY key, DWORD &ndx, stepfn step);

// Prints "<op> <n> namebuf=(...) ret=..." and returns the failure status, 1.
int fail(run &r, const char *op, int n);
// Prints a pair line (also the port mapping line): left, '=', and the first
// rightlen bytes of right.
void pair(run &r, const char *left, const char *right, int rightlen);
// The length of the text at the start of data: up to its first zero byte,
// never past size bytes.
int textlen(const BYTE *data, DWORD size);

// Builds a path from its parts into namebuf; returns 0, or
// ERROR_FILENAME_EXCED_RANGE when it would not fit (namebuf then holds as
// much of it as fits).
DWORD buildpath(run &r, std::initializer_list<std::string_view> parts);

int scanserialcomm(run &r);
int scanftdibus(run &r);
int scanftdiports(run &r);
