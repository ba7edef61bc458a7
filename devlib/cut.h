// The stand-in's busiest loop: whole lines into records. feed.cc builds it
// for every processor, and cut_wide.cc once more for AVX2 where the build
// can; so everything here is static (see linescan.h).
#ifndef HARLEN_CUT_H
#define HARLEN_CUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "harlen620.h"
#include "linescan.h"

enum { text_max = HL_RECORD_SIZE - 1 }; // characters in one record

// The line's first 64 bytes, and the last 16 only for a longer line:
// copies of fixed size, which the compiler inlines. text has the room.
static inline void put_record(char *record, const char *text, size_t len)
{
	std::memcpy(record, text, 64);
	if (len > 64)
		std::memcpy(record + 64, text + 64, HL_RECORD_SIZE - 64);
	record[len] = '\0';
}

// Takes whole lines from text[*start..end) while a record's worth of text
// is there, and stops at anything else there is to do: a long line, a NUL
// byte, the end of the text. The text is looked through 64 bytes at a
// time, whatever the lines' lengths, so that looking at one block does not
// wait for the end of the line before it. Returns the number of records
// filled, and moves *start past their lines. text has a record's room past
// end.
static inline uint32_t cut_lines(const char *text, size_t *start_at,
				 size_t end, char *records, uint32_t capacity)
{
	size_t start = *start_at, block = start;
	if (end - start < HL_RECORD_SIZE)
		return 0;
	const size_t last_start = end - HL_RECORD_SIZE; // a record's worth on
	uint64_t stops = stop_bits(text + block, '\n');
	char *record = records;
	char *const records_end = records + size_t(capacity) * HL_RECORD_SIZE;

	while (record < records_end && start <= last_start) {
		if (stops == 0) {
			block += 64;
			if (block - start > text_max)
				break;
			stops = stop_bits(text + block, '\n');
			continue;
		}
		size_t stop = block + lowest_bit(stops);
		size_t len = stop - start;
		stops &= stops - 1;
		if (len > text_max || text[stop] == '\0')
			break;
		if (len > 0 && text[stop - 1] == '\r')
			len--;
		put_record(record, text + start, len);
		record += HL_RECORD_SIZE;
		start = stop + 1;
	}
	*start_at = start;
	return uint32_t(size_t(record - records) / HL_RECORD_SIZE);
}

// The same, built for AVX2; it runs only where wide_usable().
uint32_t cut_lines_wide(const char *text, size_t *start, size_t end,
			char *records, uint32_t capacity);

#endif
