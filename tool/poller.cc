#include "poller.h"

#include <cerrno>
#include <cstring>

#include "console.h"
#include "harlen620.h"

enum {
	unit_number = 0,
	device_kind = 3,
	access_mode = 3,
	name_size = 20,
};

// The lines are gathered first and handed to the stream in one write: one
// call per batch instead of two per record keeps up with a busy device.
int print_batch(std::FILE *out, const char *batch, uint32_t count)
{
	static char lines[HL_BATCH_RECORDS * (HL_RECORD_SIZE + 1)];
	size_t used = 0;

	if (count > HL_BATCH_RECORDS)
		count = HL_BATCH_RECORDS;
	for (uint32_t i = 0; i < count; i++) {
		const char *record = batch + size_t(i) * HL_RECORD_SIZE;
		size_t len = strnlen(record, HL_RECORD_SIZE);
		if (len == 0)
			continue;
		std::memcpy(lines + used, record, len);
		used += len;
		lines[used++] = '\n';
	}
	errno = 0;
	if (used > 0 && std::fwrite(lines, 1, used, out) != used)
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
	int key = console_read_key();
	return key == 'q' || key == 'Q';
}

int run_poller(uint32_t sleeplen, std::FILE *out, std::FILE *err)
{
	static char name[name_size];
	static hl_record batch[HL_BATCH_RECORDS];
	hl_handle handle = nullptr;

	char *device = hl_device_name(unit_number, device_kind, name, name_size);
	hl_status status = hl_open(&handle, device, access_mode);
	if (status != 0) {
		hl_report_error(handle, status, "hl_open");
		return 1;
	}
	std::fputs("Press 'q' to quit.\n\n", err);
	std::fflush(err); // some C runtimes buffer a redirected stderr

	for (;;) {
		if (quit_key_pressed())
			return close_device(handle);

		uint32_t count = HL_BATCH_RECORDS;
		status = hl_read_trace(handle, batch[0], &count);
		if (status != 0) {
			hl_report_error(nullptr, status,
					"Could not get trace data from device");
			return 1;
		}
		if (int errnum = print_batch(out, batch[0], count)) {
			report_write_error(err, errnum);
			return 1;
		}
		console_sleep(sleeplen);
	}
}
