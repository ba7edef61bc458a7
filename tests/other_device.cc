// A second HARLEN_620 library, built for the install test: one batch of one
// message, then a failing read. With LD_LIBRARY_PATH naming its folder,
// the installed msgpoll must load it instead of the stand-in.
#include <cstdio>
#include <cstring>

#include "harlen620.h"

static int token;
static int reads;

extern "C" HL_API char *HL_CALL hl_device_name(int, int, char *buffer, int size)
{
	std::snprintf(buffer, std::size_t(size), "other");
	return buffer;
}

extern "C" HL_API hl_status HL_CALL hl_open(hl_handle *handle, const char *, int)
{
	*handle = &token;
	return 0;
}

extern "C" HL_API hl_status HL_CALL hl_read_trace(hl_handle, char *first,
						  uint32_t *count)
{
	if (reads++ > 0)
		return 3;
	std::strcpy(first, "from the other library");
	*count = 1;
	return 0;
}

extern "C" HL_API hl_status HL_CALL hl_close(hl_handle)
{
	return 0;
}

extern "C" HL_API void HL_CALL hl_report_error(hl_handle, hl_status status,
					       const char *label)
{
	std::fprintf(stderr, "other library: %s: %d\n", label, int(status));
}
