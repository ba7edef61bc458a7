#include "cmdline.h"

#include <cctype>
#include <cerrno>
#include <cstring>

enum { default_sleeplen = 200 };

// The value of c as a digit of any base up to 16, or 16 when it is none.
static unsigned digit_value(char c)
{
	if (c >= '0' && c <= '9')
		return unsigned(c - '0');
	if (c >= 'a' && c <= 'f')
		return unsigned(c - 'a' + 10);
	if (c >= 'A' && c <= 'F')
		return unsigned(c - 'A' + 10);
	return 16;
}

uint32_t read_sleeplen(const char *s)
{
	while (std::isspace(static_cast<unsigned char>(*s))) // in the C locale: " \t\n\v\f\r"
		s++;

	bool negative = false;
	if (*s == '+' || *s == '-')
		negative = *s++ == '-';

	unsigned base = 10;
	if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
		base = 16;
		s += 2;
	} else if (s[0] == '0') {
		base = 8;
	}

	// At most 4294967295 * 16 + 15 before clamping: no overflow in 64 bits.
	uint64_t value = 0;
	for (unsigned d; (d = digit_value(*s)) < base; s++) {
		value = value * base + d;
		if (value > UINT32_MAX)
			value = UINT32_MAX;
	}

	uint32_t magnitude = uint32_t(value);
	return negative ? 0u - magnitude : magnitude;
}

static bool is_interval_option(const char *arg)
{
	return std::strlen(arg) == 2 && (arg[0] == '-' || arg[0] == '/') &&
	       (arg[1] == 's' || arg[1] == 'S');
}

bool read_command_line(int argc, const char *const argv[], uint32_t *sleeplen)
{
	uint32_t value = default_sleeplen;

	for (int i = 1; i < argc; i++) {
		if (!is_interval_option(argv[i]) || i + 1 >= argc)
			return false;
		value = read_sleeplen(argv[++i]);
	}
	*sleeplen = value;
	return true;
}

int write_usage(std::FILE *out)
{
	static const char *const lines[] = {
		"msgpoll is a console application that reads the trace messages",
		"from the Harlen device driver and prints them to standard out.\n",
		"usage:\n\t\tmsgpoll [-s <sleeplen>]\n",
		"Where sleeplen is the number of milliseconds to sleep between",
		"reads of trace messages.\nTo quit the application press 'q'.\n",
	};

	errno = 0;
	for (const char *line : lines) {
		if (std::fputs(line, out) == EOF || std::putc('\n', out) == EOF)
			return errno ? errno : EIO;
	}
	return 0;
}
