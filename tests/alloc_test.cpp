// A run over a loaded registry must not allocate: every allocation in the
// process is counted while the run goes on. Built without sanitizers, whose
// own allocator this would bypass.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "regfile.h"
#include "testutil.h"

extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" void *__libc_memalign(size_t, size_t);
extern "C" void __libc_free(void *);

static bool counting;
static long allocs;

extern "C" void *malloc(size_t n) {
  if (counting)
    allocs++;
  return __libc_malloc(n);
}
extern "C" void *calloc(size_t n, size_t m) {
  if (counting)
    allocs++;
  return __libc_calloc(n, m);
}
extern "C" void *realloc(void *p, size_t n) {
  if (counting)
    allocs++;
  return __libc_realloc(p, n);
}
extern "C" void free(void *p) {
  __libc_free(p);
}

void *operator new(size_t n) {
  void *p = malloc(n);
  if (p == nullptr)
    throw std::bad_alloc();
  return p;
}
void *operator new[](size_t n) {
  return operator new(n);
}
void operator delete(void *p) noexcept {
  free(p);
}
void operator delete[](void *p) noexcept {
  free(p);
}
void operator delete(void *p, size_t) noexcept {
  free(p);
}
void operator delete[](void *p, size_t) noexcept {
  free(p);
}

static run rec;
static char outbuf[1 << 16];

TEST(Alloc, RunAllocatesNothing) {
  struct {
    const char *name;
    int argc;
  } rows[] = {{"Debug", 1}, {"Quiet", 2}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    twoadapters();
    mrready();
    FILE *f = tmpfile();
    ASSERT_NE(f, nullptr);
    setvbuf(f, outbuf, _IOFBF, sizeof outbuf);
    rec.out = f;
    allocs = 0;
    counting = true;
    int status = comserial(rec, row.argc);
    counting = false;
    EXPECT_EQ(status, 0);
    EXPECT_EQ(allocs, 0);
    // The counter itself works: the test would see an allocation.
    counting = true;
    void *p = malloc(16);
    counting = false;
    free(p);
    EXPECT_EQ(allocs, 1);
    EXPECT_GT(ftell(f), 100);
    fclose(f);
  }
}

static std::string readfile(const std::string &path) {
  std::string s;
  FILE *f = fopen(path.c_str(), "rb");
  if (f == nullptr)
    return s;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0)
    s.append(buf, n);
  fclose(f);
  return s;
}

// The same over registries loaded from exports, as the tool itself runs:
// the export is read into memory and loaded before counting starts.
TEST(Alloc, RunOverLoadedExportAllocatesNothing) {
  struct {
    const char *name;
    std::string path;
    int argc;
    const char *mapping;  // a line the run must print
  } rows[] = {
      {"TwoAdaptersDebug", std::string(CASESDIR) + "/two-adapters.reg", 1, "COM7=A600ARJH\n"},
      {"TwoAdaptersQuiet", std::string(CASESDIR) + "/two-adapters.reg", 2, "COM7=A600ARJH\n"},
      {"WorkstationDebug", std::string(EXAMPLESDIR) + "/workstation.reg", 1, "COM7=A600ARJH\n"},
      {"WorkstationQuiet", std::string(EXAMPLESDIR) + "/workstation.reg", 2, "COM7=A600ARJH\n"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    std::string data = readfile(row.path);
    ASSERT_FALSE(data.empty()) << row.path;
    mrclear();
    unsigned long line = 0;
    char msg[160];
    ASSERT_EQ(regloadmem(data.data(), data.size(), &line, msg, sizeof msg), 0) << line << ": " << msg;
    mrready();
    FILE *f = tmpfile();
    ASSERT_NE(f, nullptr);
    setvbuf(f, outbuf, _IOFBF, sizeof outbuf);
    rec.out = f;
    allocs = 0;
    counting = true;
    int status = comserial(rec, row.argc);
    counting = false;
    EXPECT_EQ(status, 0);
    EXPECT_EQ(allocs, 0);
    long n = ftell(f);
    std::string out((size_t)(n > 0 ? n : 0), '\0');
    rewind(f);
    ASSERT_EQ(fread(out.data(), 1, out.size(), f), out.size());
    EXPECT_NE(out.find(row.mapping), std::string::npos) << out;
    fclose(f);
  }
}
