#include "printer.h"

#include <cstring>

#include "output.h"
#include "utf8.h"

static bool is_control(unsigned char b)
{
	return (b < 0x20 && b != '\t') || b == 0x7f;
}

// The length of the valid UTF-8 sequence that text begins (left bytes
// long), or 0 when it begins none.
static std::size_t utf8_length(const unsigned char *text, std::size_t left)
{
	unsigned char low, high;
	std::size_t n = std::size_t(utf8_lead(text[0], &low, &high));
	if (n <= 1)
		return n;
	if (left < n || text[1] < low || text[1] > high)
		return 0;
	for (std::size_t k = 2; k < n; k++)
		if ((text[k] & 0xc0) != 0x80)
			return 0;
	return n;
}

static char *escaped(char *to, const unsigned char *bytes, std::size_t n)
{
	static const char hex[] = "0123456789abcdef";
	for (std::size_t k = 0; k < n; k++) {
		*to++ = '\\';
		*to++ = 'x';
		*to++ = hex[bytes[k] >> 4];
		*to++ = hex[bytes[k] & 0xf];
	}
	return to;
}

// Copies the len bytes of text to to, as a terminal may show them; returns
// the end of what it wrote, at most 4 * len bytes.
static char *terminal_safe_text(char *to, const char *text, std::size_t len)
{
	const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
	const unsigned char *end = p + len;
	while (p < end) {
		std::size_t n = utf8_length(p, std::size_t(end - p));
		if (n == 0) {
			to = escaped(to, p++, 1);
			continue;
		}
		bool c1 = n == 2 && p[0] == 0xc2 && p[1] <= 0x9f;
		if ((n == 1 && is_control(p[0])) || c1) {
			to = escaped(to, p, n);
		} else {
			std::memcpy(to, p, n);
			to += n;
		}
		p += n;
	}
	return to;
}

std::size_t batch_lines(char *to, const char *batch, uint32_t count, bool for_terminal)
{
	if (count > HL_BATCH_RECORDS)
		count = HL_BATCH_RECORDS;
	char *end = to;
	for (uint32_t i = 0; i < count; i++) {
		const char *record = batch + std::size_t(i) * HL_RECORD_SIZE;
		std::size_t len = strnlen(record, HL_RECORD_SIZE);
		if (len == 0)
			continue;
		if (for_terminal) {
			end = terminal_safe_text(end, record, len);
		} else {
			std::memcpy(end, record, len);
			end += len;
		}
		for (const char *e = output_line_end; *e; e++)
			*end++ = *e;
	}
	return std::size_t(end - to);
}

void report_failure(std::FILE *err, const char *what, int errnum)
{
	std::fprintf(err, "msgpoll: cannot %s: %s\n", what, std::strerror(errnum));
}
