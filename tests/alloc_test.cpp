// A run over a loaded registry must not allocate: every allocation in the
// process is counted while the run goes on. Built without sanitizers, whose
// own allocator this would bypass.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

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
extern "C" void free(void *p) { __libc_free(p); }

void *operator new(size_t n) {
  void *p = malloc(n);
  if (p == nullptr)
    throw std::bad_alloc();
  return p;
}
void *operator new[](size_t n) { return operator new(n); }
void operator delete(void *p) noexcept { free(p); }
void operator delete[](void *p) noexcept { free(p); }
void operator delete(void *p, size_t) noexcept { free(p); }
void operator delete[](void *p, size_t) noexcept { free(p); }

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
