#include "poller.h"

#include "console.h"
#include "harlen620.h"
#include "keys.h"
#include "output.h"
#include "printer.h"

enum {
	unit_number = 0,
	device_kind = 3,
	access_mode = 3,
	name_size = 20,
};

// One write per batch keeps up with a busy device, and a pipe or file sees
// each batch within its cycle.
int print_batch(std::FILE *out, const char *batch, uint32_t count, bool for_terminal)
{
	static char lines[batch_text_max];
	std::size_t used = batch_lines(lines, batch, count, for_terminal);
	return used == 0 ? 0 : output_write(out, lines, used);
}

// Closes the device after the quit key; returns the exit status.
static int close_device(hl_handle handle)
{
	hl_status status = hl_close(handle);
	if (status != 0) {
		hl_report_error(handle, status, "hl_close");
		return 1;
	}
	return 0;
}

// The cycle, from the first key check on, until the user quits or an
// operation fails; returns the exit status.
static int poll_device(hl_handle handle, uint32_t sleeplen, std::FILE *out, std::FILE *err)
{
	static hl_record batch[HL_BATCH_RECORDS];
	bool for_terminal = console_is_terminal(out);

	for (;;) {
		// The quit key: at most one key a cycle, any other dropped.
		if (console_key_waiting() && is_quit_key(console_read_key()))
			return close_device(handle);

		// Read a batch and print it, a batch in hand from the call on:
		// the device may hand messages over before it returns.
		uint32_t count = HL_BATCH_RECORDS;
		console_begin_batch();
		hl_status status = hl_read_trace(handle, batch[0], &count);
		int errnum = 0;
		if (status != 0)
			hl_report_error(nullptr, status, "Could not get trace data from device");
		else if ((errnum = print_batch(out, batch[0], count, for_terminal)) != 0)
			report_failure(err, failed_write, errnum);
		console_end_batch();
		if (status != 0 || errnum != 0)
			return 1;

		// Pause, after every batch, an empty one included.
		const char *what_failed = nullptr;
		if ((errnum = console_pause(sleeplen, &what_failed)) != 0) {
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

	console_begin_run(out);
	int result = poll_device(handle, sleeplen, out, err);
	console_end_run();
	return result;
}
