// msgpoll's busiest loop: records into lines, each record's text copied
// once. poller.cc builds it for every processor, and plain_lines_wide.cc
// once more for AVX2 where the build can; so everything here is static
// (see linescan.h).
#ifndef MSGPOLL_PLAIN_LINES_H
#define MSGPOLL_PLAIN_LINES_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "harlen620.h"
#include "linescan.h"
#include "output.h"

// The record's first 64 bytes whole, looked at for the NUL as they pass,
// and the last 16 only when the NUL was not among them. The room past the
// line is there anyway. Returns the end of the text.
static inline char *plain_text(char *to, const char *record)
{
	uint64_t nuls = stop_bits(record, '\0', to);
	if (nuls)
		return to + lowest_bit(nuls);
	std::memcpy(to + 64, record + 64, HL_RECORD_SIZE - 64);
	return to + 64 + strnlen(record + 64, HL_RECORD_SIZE - 64);
}

// Puts the line end, of end_len bytes, after a line's text; an empty
// record gives no line.
static inline char *end_line(char *line, char *end, std::size_t end_len)
{
	if (end == line)
		return end;
	std::memcpy(end, output_line_end, output_line_end_max);
	return end + end_len;
}

// The lines of count records (at most 500) as they are; returns the length.
static inline std::size_t plain_lines(char *to, const char *batch,
				      uint32_t count)
{
	const std::size_t end_len = std::strlen(output_line_end);
	char *end = to;
	for (uint32_t i = 0; i < count; i++) {
		const char *record = batch + std::size_t(i) * HL_RECORD_SIZE;
		end = end_line(end, plain_text(end, record), end_len);
	}
	return std::size_t(end - to);
}

// The same, built for AVX2; it runs only where wide_usable().
std::size_t plain_lines_wide(char *to, const char *batch, uint32_t count);

#endif
