// A HARLEN_620 library that counts: each read hands over full batches of
// numbered messages ("seq 1", "seq 2", ...; COUNTING_DEVICE_BATCH of them,
// 500 when unset) and, before it returns, appends the last number and the
// time of the read in milliseconds to the file COUNTING_DEVICE_LOG. What
// was handed over but never printed is what msgpoll lost.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

#include "harlen620.h"

static int token;
static int log_fd = -1;
static uint32_t batch = HL_BATCH_RECORDS;
static uint32_t sent;

extern "C" HL_API char *HL_CALL hl_device_name(int, int, char *buffer, int size)
{
	std::snprintf(buffer, std::size_t(size), "counting");
	return buffer;
}

extern "C" HL_API hl_status HL_CALL hl_open(hl_handle *handle, const char *, int)
{
	const char *path = std::getenv("COUNTING_DEVICE_LOG");
	const char *size = std::getenv("COUNTING_DEVICE_BATCH");
	if (size)
		batch = uint32_t(std::strtoul(size, nullptr, 10));
	log_fd = path ? open(path, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600) : -1;
	*handle = &token;
	return log_fd < 0 ? 1 : 0;
}

extern "C" HL_API hl_status HL_CALL hl_read_trace(hl_handle, char *first,
						  uint32_t *count)
{
	uint32_t n = batch < *count ? batch : *count;
	for (uint32_t i = 0; i < n; i++)
		std::snprintf(first + i * HL_RECORD_SIZE, HL_RECORD_SIZE, "seq %u", ++sent);
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	char line[64];
	int len = std::snprintf(line, sizeof line, "%u %lld\n", sent,
				(long long)t.tv_sec * 1000 + t.tv_nsec / 1000000);
	if (write(log_fd, line, std::size_t(len)) != len)
		return 2;
	*count = n;
	return 0;
}

extern "C" HL_API hl_status HL_CALL hl_close(hl_handle)
{
	return 0;
}

extern "C" HL_API void HL_CALL hl_report_error(hl_handle, hl_status status,
					       const char *label)
{
	std::fprintf(stderr, "counting device: %s: %d\n", label, int(status));
}
