// msgpoll: prints the Harlen driver's trace messages, one line each, until
// the user presses 'q'.
#include <cerrno>
#include <cstdio>

#include "cmdline.h"
#include "console.h"
#include "poller.h"
#include "printer.h"

// Writes out what is still buffered for standard output: the usage text
// (the trace lines bypass the stream). A stream already in error was
// reported where the write failed; a new failure is reported here.
static int finish_output(int status)
{
	bool reported = std::ferror(stdout);
	errno = 0;
	if (std::fflush(stdout) == 0 && !std::ferror(stdout))
		return status;
	if (!reported)
		report_failure(stderr, failed_write, errno ? errno : EIO);
	return 1;
}

int main(int argc, char *argv[])
{
	uint32_t sleeplen;
	int status;

	if (read_command_line(argc, argv, &sleeplen)) {
		status = run_poller(sleeplen, stdout, stderr);
	} else {
		if (int errnum = write_usage(stdout))
			report_failure(stderr, failed_write, errnum);
		status = 1;
	}
	return finish_output(status);
}
