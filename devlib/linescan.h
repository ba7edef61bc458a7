// Where a line or a record's text ends, found 64 bytes at a time: the
// stand-in cuts its text into records this way, and msgpoll finds the end
// of each record's text. With AVX2 32 bytes a step, with SSE2 (every
// x86-64) 16, and no branch; elsewhere a byte at a time.
//
// The loops that call these are built twice where the build can (see
// MSGPOLL_AVX2): for every processor, and once more, in a file of their
// own, for AVX2. So everything here is static, and neither build's copy
// can stand in for the other's.
#ifndef HARLEN_LINESCAN_H
#define HARLEN_LINESCAN_H

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

// Bit k is set when p[k] is '\0' or stop, for the 64 bytes p[0..64). With
// copy_to, the 64 bytes are copied there too, as they are looked at.
static inline uint64_t stop_bits(const char *p, char stop,
				 char *copy_to = nullptr)
{
	uint64_t bits = 0;
#if defined(__AVX2__)
	const __m256i nul = _mm256_setzero_si256(), end = _mm256_set1_epi8(stop);
	for (int k = 0; k < 2; k++) {
		__m256i v = _mm256_loadu_si256(
			reinterpret_cast<const __m256i *>(p + 32 * k));
		if (copy_to)
			_mm256_storeu_si256(
				reinterpret_cast<__m256i *>(copy_to + 32 * k), v);
		__m256i hit = _mm256_cmpeq_epi8(
			_mm256_min_epu8(v, _mm256_xor_si256(v, end)), nul);
		bits |= uint64_t(unsigned(_mm256_movemask_epi8(hit))) << (32 * k);
	}
#elif defined(__SSE2__)
	const __m128i nul = _mm_setzero_si128(), end = _mm_set1_epi8(stop);
	for (int k = 0; k < 4; k++) {
		__m128i v = _mm_loadu_si128(
			reinterpret_cast<const __m128i *>(p + 16 * k));
		if (copy_to)
			_mm_storeu_si128(reinterpret_cast<__m128i *>(copy_to + 16 * k), v);
		// A byte is '\0' or stop when it or its xor with stop is 0.
		__m128i hit = _mm_cmpeq_epi8(
			_mm_min_epu8(v, _mm_xor_si128(v, end)), nul);
		bits |= uint64_t(unsigned(_mm_movemask_epi8(hit))) << (16 * k);
	}
#else
	for (int k = 0; k < 64; k++) {
		if (copy_to)
			copy_to[k] = p[k];
		bits |= uint64_t(p[k] == '\0' || p[k] == stop) << k;
	}
#endif
	return bits;
}

// The number of the lowest bit set; bits is not 0.
static inline std::size_t lowest_bit(uint64_t bits)
{
	return std::size_t(__builtin_ctzll(bits));
}

// Whether the AVX2 builds of those loops run here: the build made them, and
// this processor has AVX2 and its system keeps the registers.
static inline bool wide_usable()
{
#if defined(MSGPOLL_AVX2)
	return __builtin_cpu_supports("avx2");
#else
	return false;
#endif
}

#endif
