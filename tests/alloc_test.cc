// The poller allocates nothing per cycle: a run of 10 cycles and one of
// 10,000 make the same number of allocations.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include "fakes.h"
#include "poller.h"

extern "C" void *__libc_malloc(std::size_t);
extern "C" void *__libc_calloc(std::size_t, std::size_t);
extern "C" void *__libc_realloc(void *, std::size_t);
extern "C" void __libc_free(void *);

static bool counting;
static long allocations;

static void *counted(void *p)
{
	if (counting)
		allocations++;
	return p;
}

extern "C" void *malloc(std::size_t n) { return counted(__libc_malloc(n)); }
extern "C" void *calloc(std::size_t n, std::size_t m) { return counted(__libc_calloc(n, m)); }
extern "C" void *realloc(void *p, std::size_t n) { return counted(__libc_realloc(p, n)); }
extern "C" void free(void *p) { __libc_free(p); }

void *operator new(std::size_t n)
{
	if (void *p = counted(__libc_malloc(n ? n : 1)))
		return p;
	throw std::bad_alloc();
}
void operator delete(void *p) noexcept { __libc_free(p); }
void operator delete(void *p, std::size_t) noexcept { __libc_free(p); }

namespace {

long allocations_in(int cycles)
{
	reset_fakes();
	script.quiet = true;
	script.reads.assign(std::size_t(cycles), fake_read{0, {"one", "", "three"}, -1});
	script.typed_after[cycles] = "q";
	std::FILE *out = std::tmpfile(), *err = std::tmpfile();

	allocations = 0;
	counting = true;
	int status = run_poller(0, out, err);
	counting = false;

	std::fclose(out);
	std::fclose(err);
	EXPECT_EQ(status, 0);
	return allocations;
}

TEST(Allocation, TheCycleAllocatesNothing)
{
	EXPECT_EQ(allocations_in(10), allocations_in(10000));
}

} // namespace
