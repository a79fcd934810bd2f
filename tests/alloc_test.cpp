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

TEST(Alloc, CounterSeesAllocations) {
  allocs = 0;
  counting = true;
  void *p = malloc(16);
  std::string *q = new std::string(100, 'x');
  counting = false;
  free(p);
  delete q;
  EXPECT_GE(allocs, 2);
}

// Over a registry built in place, and over exports loaded as the tool itself
// loads them, before counting starts.
TEST(Alloc, RunAllocatesNothing) {
  struct {
    const char *name;
    std::string path;  // "" for twoadapters()
    int argc;
  } rows[] = {
      {"BuiltDebug", "", 1},
      {"BuiltQuiet", "", 2},
      {"TwoAdaptersDebug", std::string(CASESDIR) + "/two-adapters.reg", 1},
      {"TwoAdaptersQuiet", std::string(CASESDIR) + "/two-adapters.reg", 2},
      {"WorkstationDebug", std::string(EXAMPLESDIR) + "/workstation.reg", 1},
      {"WorkstationQuiet", std::string(EXAMPLESDIR) + "/workstation.reg", 2},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    if (row.path.empty()) {
      twoadapters();
    } else {
      std::string data = readfile(row.path);
      ASSERT_FALSE(data.empty()) << row.path;
      testreset();
      unsigned long line = 0;
      char msg[160];
      ASSERT_EQ(regloadmem(data.data(), data.size(), &line, msg, sizeof msg), 0) << line << ": " << msg;
    }
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
    std::string out = readall(f);
    EXPECT_NE(out.find("COM7=A600ARJH\n"), std::string::npos) << out;
  }
}
