#include "poller.h"

#include <cerrno>
#include <cstring>

#include "console.h"
#include "harlen620.h"
#include "utf8.h"

enum {
	unit_number = 0,
	device_kind = 3,
	access_mode = 3,
	name_size = 20,
};

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

// One write per batch keeps up with a busy device, and a pipe or file sees
// each batch within its cycle.
int print_batch(std::FILE *out, const char *batch, uint32_t count, bool for_terminal)
{
	static char lines[batch_text_max];
	std::size_t used = batch_lines(lines, batch, count, for_terminal);
	return used == 0 ? 0 : output_write(out, lines, used);
}

void report_failure(std::FILE *err, const char *what, int errnum)
{
	std::fprintf(err, "msgpoll: cannot %s: %s\n", what, std::strerror(errnum));
}

static int close_device(hl_handle handle)
{
	hl_status status = hl_close(handle);
	if (status != 0) {
		hl_report_error(handle, status, "hl_close");
		return 1;
	}
	return 0;
}

static bool quit_key_pressed()
{
	return console_key_waiting() && is_quit_key(console_read_key());
}

// Reads one batch and prints it; returns -1 to go on, or the exit status.
static int read_and_print(hl_handle handle, hl_record *batch, std::FILE *out,
			  std::FILE *err, bool for_terminal)
{
	uint32_t count = HL_BATCH_RECORDS;
	hl_status status = hl_read_trace(handle, batch[0], &count);
	if (status != 0) {
		hl_report_error(nullptr, status,
				"Could not get trace data from device");
		return 1;
	}
	if (count == 0)
		return -1; // a quiet device: nothing to lay out or write
	if (int errnum = print_batch(out, batch[0], count, for_terminal)) {
		report_failure(err, failed_write, errnum);
		return 1;
	}
	return -1;
}

// The cycle, from the first key check on; returns the exit status, and in
// *quit whether the user quit.
static int poll_device(hl_handle handle, uint32_t sleeplen, std::FILE *out,
		       std::FILE *err, bool *quit)
{
	static hl_record batch[HL_BATCH_RECORDS];
	bool for_terminal = console_is_terminal(out);

	for (;;) {
		if ((*quit = quit_key_pressed()))
			return close_device(handle);

		// From the call on: the device may hand messages over before
		// it returns.
		console_begin_batch();
		int result = read_and_print(handle, batch, out, err, for_terminal);
		console_end_batch();
		if (result >= 0)
			return result;

		const char *what_failed = nullptr;
		if (int errnum = console_pause(sleeplen, &what_failed)) {
			report_failure(err, what_failed, errnum);
			return 1;
		}
	}
}

int run_poller(uint32_t sleeplen, std::FILE *out, std::FILE *err)
{
	static char name[name_size];
	hl_handle handle = nullptr;

	char *device = hl_device_name(unit_number, device_kind, name, name_size);
	hl_status status = hl_open(&handle, device, access_mode);
	if (status != 0) {
		hl_report_error(handle, status, "hl_open");
		return 1;
	}
	std::fputs("Press 'q' to quit.\n\n", err);
	std::fflush(err); // some C runtimes buffer a redirected stderr

	bool quit = false;
	console_open(out);
	int result = poll_device(handle, sleeplen, out, err, &quit);
	console_close(quit);
	return result;
}
