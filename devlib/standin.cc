// HARLEN_620 stand-in: a simulated Harlen trace device behind the five
// operations msgpoll calls.
//
// Environment, read at each hl_open:
//   HARLEN_TRACE_SOURCE  a file or FIFO whose lines become the trace
//                        messages, followed like tail -f; unset: the demo
//                        driver's messages, five a second.
//   HARLEN_FAULT         operations that fail with a chosen status, as a
//                        comma-separated list of open=S, read@N=S (the N-th
//                        read), read@end=S (the first read that finds the
//                        file at its end) and close=S. Each fires once.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "feed.h"
#include "harlen620.h"

enum {
	unit_supported = 0,
	kind_supported = 3,
	access_supported = 3,

	// The stand-in's own status codes.
	no_such_device = 1,
	access_refused = 2,
	device_busy = 3,
	bad_handle = 4,
	null_argument = 5,
	source_failed = 6,
	bad_fault_setting = 7,
};

struct fault_plan {
	hl_status open, read, read_at_end, close;
	unsigned long read_number; // which read fails with .read; 0: none
};

static struct {
	bool open;
	unsigned long reads;
	fault_plan faults;
	trace_feed feed;
} device;

static int last_errno;            // what the source last failed with
static hl_status last_injected;   // the status a planned fault last returned

static const char device_prefix[] = "harlen";

extern "C" HL_API char *HL_CALL hl_device_name(int unit, int kind, char *buffer,
				       int size)
{
	if (!buffer || size <= 0)
		return nullptr;
	int n = std::snprintf(buffer, size_t(size), "%s%d.%d", device_prefix,
			      unit, kind);
	if (n < 0 || n >= size) {
		buffer[0] = '\0';
		return nullptr;
	}
	return buffer;
}

static bool read_status(const char *s, char **end, hl_status *status)
{
	errno = 0;
	long value = std::strtol(s, end, 10);
	if (errno != 0 || *end == s || value < INT32_MIN || value > INT32_MAX)
		return false;
	*status = hl_status(value);
	return true;
}

// One item of HARLEN_FAULT: open=S, close=S, read@N=S or read@end=S.
static bool read_fault(const char *s, char **end, fault_plan *plan)
{
	hl_status *target;
	if (!std::strncmp(s, "open=", 5)) {
		target = &plan->open;
		s += 5;
	} else if (!std::strncmp(s, "close=", 6)) {
		target = &plan->close;
		s += 6;
	} else if (!std::strncmp(s, "read@end=", 9)) {
		target = &plan->read_at_end;
		s += 9;
	} else if (!std::strncmp(s, "read@", 5) && s[5] >= '1' && s[5] <= '9') {
		errno = 0;
		plan->read_number = std::strtoul(s + 5, end, 10);
		if (errno != 0 || **end != '=')
			return false;
		target = &plan->read;
		s = *end + 1;
	} else {
		return false;
	}
	return read_status(s, end, target) && *target != 0;
}

static bool read_fault_plan(const char *text, fault_plan *plan)
{
	*plan = fault_plan{};
	if (!text || !*text)
		return true;
	for (const char *s = text;; s++) {
		char *end;
		if (!read_fault(s, &end, plan))
			return false;
		if (*end == '\0')
			return true;
		if (*end != ',')
			return false;
		s = end;
	}
}

// Returns a planned fault's status, once: the plan forgets it.
static hl_status injected(hl_status *planned)
{
	last_injected = *planned;
	*planned = 0;
	return last_injected;
}

extern "C" HL_API hl_status HL_CALL hl_open(hl_handle *handle, const char *name,
				    int access)
{
	char expected[20];
	if (!handle || !name)
		return null_argument;
	if (!hl_device_name(unit_supported, kind_supported, expected,
			    sizeof expected) ||
	    std::strcmp(name, expected) != 0)
		return no_such_device;
	if (access != access_supported)
		return access_refused;
	if (device.open)
		return device_busy;

	fault_plan plan;
	if (!read_fault_plan(std::getenv("HARLEN_FAULT"), &plan))
		return bad_fault_setting;
	if (plan.open != 0)
		return injected(&plan.open);

	int err = feed_open(&device.feed, std::getenv("HARLEN_TRACE_SOURCE"));
	if (err != 0) {
		last_errno = err;
		return source_failed;
	}
	device.open = true;
	device.reads = 0;
	device.faults = plan;
	*handle = &device;
	return 0;
}

static bool is_open(hl_handle handle)
{
	return handle == &device && device.open;
}

extern "C" HL_API hl_status HL_CALL hl_read_trace(hl_handle handle,
					  char *first_record, uint32_t *count)
{
	if (!is_open(handle))
		return bad_handle;
	if (!first_record || !count)
		return null_argument;

	fault_plan &plan = device.faults;
	if (++device.reads == plan.read_number)
		return injected(&plan.read);

	bool at_end;
	long filled = feed_fill(&device.feed, first_record, *count, &at_end);
	if (filled < 0) {
		last_errno = errno;
		return source_failed;
	}
	if (filled == 0 && at_end && plan.read_at_end != 0)
		return injected(&plan.read_at_end);
	*count = uint32_t(filled);
	return 0;
}

extern "C" HL_API hl_status HL_CALL hl_close(hl_handle handle)
{
	if (!is_open(handle))
		return bad_handle;
	if (device.faults.close != 0)
		return injected(&device.faults.close);
	feed_close(&device.feed);
	device.open = false;
	return 0;
}

static const char *meaning(hl_status status)
{
	static char text[100];

	if (status != 0 && status == last_injected)
		return "injected fault";
	switch (status) {
	case no_such_device: return "no such device";
	case access_refused: return "access mode not supported";
	case device_busy: return "device already open";
	case bad_handle: return "not an open device";
	case null_argument: return "null argument";
	case source_failed:
		std::snprintf(text, sizeof text, "trace source: %s",
			      std::strerror(last_errno));
		return text;
	case bad_fault_setting: return "HARLEN_FAULT not understood";
	default: return "unknown status";
	}
}

extern "C" HL_API void HL_CALL hl_report_error(hl_handle, hl_status status,
				       const char *label)
{
	std::fprintf(stderr, "%s: status %ld (%s)\n", label ? label : "HARLEN_620",
		     long(status), meaning(status));
}
