#include "poller.h"

#include <cerrno>
#include <cstring>

#include "console.h"
#include "harlen620.h"
#include "keyqueue.h"

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

// The second byte of a C1 control's UTF-8 form, after C2.
static bool is_c1_tail(unsigned char b)
{
	return b >= 0x80 && b <= 0x9f;
}

char *shown_text(char *to, const char *text, std::size_t len)
{
	static const char hex[] = "0123456789abcdef";
	bool in_c1 = false; // the byte before opened a C1 control

	for (std::size_t i = 0; i < len; i++) {
		unsigned char b = static_cast<unsigned char>(text[i]);
		bool opens_c1 = b == 0xc2 && i + 1 < len &&
				is_c1_tail(static_cast<unsigned char>(text[i + 1]));
		if (is_control(b) || opens_c1 || in_c1) {
			*to++ = '\\';
			*to++ = 'x';
			*to++ = hex[b >> 4];
			*to++ = hex[b & 0xf];
		} else {
			*to++ = char(b);
		}
		in_c1 = opens_c1;
	}
	return to;
}

// The lines are gathered first and handed to the stream in one write: one
// call per batch instead of two per record keeps up with a busy device.
// The flush then sends them on at once, so a pipe or file sees each batch
// within its cycle and a signal that ends msgpoll loses none of them.
int print_batch(std::FILE *out, const char *batch, uint32_t count, bool shown)
{
	static char lines[batch_text_max];
	char *end = lines;

	if (count > HL_BATCH_RECORDS)
		count = HL_BATCH_RECORDS;
	for (uint32_t i = 0; i < count; i++) {
		const char *record = batch + size_t(i) * HL_RECORD_SIZE;
		size_t len = strnlen(record, HL_RECORD_SIZE);
		if (len == 0)
			continue;
		if (shown) {
			end = shown_text(end, record, len);
		} else {
			std::memcpy(end, record, len);
			end += len;
		}
		*end++ = '\n';
	}
	size_t used = size_t(end - lines);
	if (used == 0)
		return 0;
	errno = 0;
	if (std::fwrite(lines, 1, used, out) != used || std::fflush(out) != 0)
		return errno ? errno : EIO;
	return 0;
}

void report_write_error(std::FILE *err, int errnum)
{
	std::fprintf(err, "msgpoll: cannot write to standard output: %s\n",
		     std::strerror(errnum));
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
	if (!console_key_waiting())
		return false;
	return is_quit_key(console_read_key());
}

// The cycle, from the first key check on; returns the exit status.
static int poll_device(hl_handle handle, uint32_t sleeplen, std::FILE *out,
		       std::FILE *err)
{
	static hl_record batch[HL_BATCH_RECORDS];
	bool shown = console_is_terminal(out);

	for (;;) {
		if (quit_key_pressed())
			return close_device(handle);

		uint32_t count = HL_BATCH_RECORDS;
		hl_status status = hl_read_trace(handle, batch[0], &count);
		if (status != 0) {
			hl_report_error(nullptr, status,
					"Could not get trace data from device");
			return 1;
		}
		if (int errnum = print_batch(out, batch[0], count, shown)) {
			report_write_error(err, errnum);
			return 1;
		}
		console_pause(sleeplen);
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

	console_open();
	int result = poll_device(handle, sleeplen, out, err);
	console_close();
	return result;
}
