// HARLEN_620 stand-in: a simulated Harlen trace device behind the five
// operations msgpoll calls.
//
// Environment, read at each hl_open:
//   HARLEN_TRACE_SOURCE  a file or FIFO whose lines become the trace
//                        messages, followed like tail -f; unset or empty: the demo
//                        driver's messages, five a second.
//   HARLEN_FAULT         operations that fail with a chosen status, as a
//                        comma-separated list of open=S, read@N=S (the N-th
//                        read), read@end=S (the first read that finds the
//                        file at its end) and close=S, blanks allowed
//                        around items and values, at most 64 items. Each
//                        fires once.
//
// The stand-in needs no C++ library, as a driver's library would not: a
// program that loads it loads only the C library with it.
#include <cctype>
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

	fault_max = 64,       // items in HARLEN_FAULT
	kept_text_max = 4096, // a source's path, a bad item, kept for the report
};

// A planned fault: the operation, for a read which one (0: the first at
// the file's end), and the status it returns.
enum fault_op { fault_open, fault_read, fault_close };
struct fault {
	fault_op op;
	uint64_t read;
	hl_status status;
};

static struct {
	bool open;
	uint64_t reads;
	fault faults[fault_max]; // those yet to fire
	int fault_count;
	trace_feed feed;
} device;

static int last_errno;                  // what the source last failed with
static char source_path[kept_text_max]; // the source named at the last open
static char bad_item[kept_text_max];    // the HARLEN_FAULT item not understood
static hl_status last_injected;         // what the last operation's planned fault returned

extern "C" HL_API char *HL_CALL hl_device_name(int unit, int kind, char *buffer,
					       int size)
{
	if (!buffer || size <= 0)
		return nullptr;
	int n = std::snprintf(buffer, size_t(size), "harlen%d.%d", unit, kind);
	if (n < 0 || n >= size) {
		buffer[0] = '\0';
		return nullptr;
	}
	return buffer;
}

// The whole of text, blanks after it allowed, as a decimal number with an
// optional sign, within [low, high].
static bool read_number(const char *text, long long low, long long high, long long *value)
{
	char *end;
	errno = 0;
	*value = std::strtoll(text, &end, 10);
	while (std::isspace(static_cast<unsigned char>(*end)))
		end++;
	return end != text && *end == '\0' && errno == 0 && *value >= low && *value <= high;
}

// One item of HARLEN_FAULT, without the blanks around it: open=S, close=S,
// read@N=S or read@end=S, blanks allowed around the '='.
static bool read_fault(const char *item, fault *f)
{
	char name[24];
	int name_end = 0;
	long long status, read = 0;
	if (std::sscanf(item, "%23[a-z0-9@] =%n", name, &name_end) != 1 || name_end == 0 ||
	    !read_number(item + name_end, INT32_MIN, INT32_MAX, &status) || status == 0)
		return false;
	f->status = hl_status(status);
	f->op = std::strncmp(name, "read@", 5) == 0 ? fault_read
		: std::strcmp(name, "open") == 0    ? fault_open
						    : fault_close;
	f->read = 0;
	if (f->op == fault_read && std::strcmp(name + 5, "end") != 0) {
		if (!std::isdigit(static_cast<unsigned char>(name[5])) ||
		    !read_number(name + 5, 1, 999999999999LL, &read))
			return false;
		f->read = uint64_t(read);
	}
	return f->op != fault_close || std::strcmp(name, "close") == 0;
}

// Reads the whole list into the device's plan; false, with the item in
// bad_item, at the first item not understood, one that plans the same
// fault twice, or one past the most.
static bool read_fault_plan(const char *text)
{
	device.fault_count = 0;
	while (text && std::isspace(static_cast<unsigned char>(*text)))
		text++;
	if (!text || !*text)
		return true; // unset, or nothing but blanks: no plan
	for (const char *at = text; at;) {
		size_t len = std::strcspn(at, ",");
		const char *next = at[len] ? at + len + 1 : nullptr;
		while (len > 0 && std::isspace(static_cast<unsigned char>(*at)))
			at++, len--;
		while (len > 0 && std::isspace(static_cast<unsigned char>(at[len - 1])))
			len--;
		std::snprintf(bad_item, sizeof bad_item, "%.*s", int(len), at);
		fault f;
		bool ok = device.fault_count < fault_max && len < sizeof bad_item &&
			  read_fault(bad_item, &f);
		for (int i = 0; ok && i < device.fault_count; i++)
			ok = device.faults[i].op != f.op || device.faults[i].read != f.read;
		if (!ok)
			return false;
		device.faults[device.fault_count++] = f;
		at = next;
	}
	return true;
}

// Returns the status of the planned fault for op (and read), once: the
// plan forgets it. 0 when none is planned.
static hl_status injected(fault_op op, uint64_t read = 0)
{
	fault *plan = device.faults;
	for (int i = 0; i < device.fault_count; i++) {
		if (plan[i].op == op && plan[i].read == read) {
			last_injected = plan[i].status;
			std::memmove(plan + i, plan + i + 1,
				     sizeof *plan * size_t(--device.fault_count - i));
			return last_injected;
		}
	}
	return 0;
}

extern "C" HL_API hl_status HL_CALL hl_open(hl_handle *handle, const char *name,
					    int access)
{
	last_injected = 0; // a failure of its own, unless a fault fires
	char expected[20];
	if (!handle || !name)
		return null_argument;
	if (!hl_device_name(unit_supported, kind_supported, expected, sizeof expected) ||
	    std::strcmp(name, expected) != 0)
		return no_such_device;
	if (access != access_supported)
		return access_refused;
	if (device.open)
		return device_busy;
	if (!read_fault_plan(std::getenv("HARLEN_FAULT")))
		return bad_fault_setting;
	if (hl_status status = injected(fault_open))
		return status;

	// Empty, as unset: the demo driver.
	const char *source = std::getenv("HARLEN_TRACE_SOURCE");
	if (source && !*source)
		source = nullptr;
	std::snprintf(source_path, sizeof source_path, "%s", source ? source : "");
	if ((last_errno = feed_open(&device.feed, source)) != 0)
		return source_failed;
	device.open = true;
	device.reads = 0;
	*handle = &device;
	return 0;
}

static bool is_open(hl_handle handle)
{
	return handle == &device && device.open;
}

extern "C" HL_API hl_status HL_CALL hl_read_trace(hl_handle handle, char *first_record,
						  uint32_t *count)
{
	last_injected = 0; // a failure of its own, unless a fault fires
	if (!is_open(handle))
		return bad_handle;
	if (!first_record || !count)
		return null_argument;
	if (hl_status status = injected(fault_read, ++device.reads))
		return status;

	bool at_end;
	long filled = feed_fill(&device.feed, first_record, *count, &at_end);
	if (filled < 0) {
		last_errno = errno;
		return source_failed;
	}
	if (hl_status status = at_end ? injected(fault_read) : 0)
		return status;
	*count = uint32_t(filled);
	return 0;
}

extern "C" HL_API hl_status HL_CALL hl_close(hl_handle handle)
{
	last_injected = 0; // a failure of its own, unless a fault fires
	if (!is_open(handle))
		return bad_handle;
	if (hl_status status = injected(fault_close))
		return status;
	feed_close(&device.feed);
	device.open = false;
	return 0;
}

static const char *meaning(hl_status status)
{
	static char text[2 * kept_text_max]; // a kept text, and words around it

	if (status != 0 && status == last_injected)
		return "injected fault";
	switch (status) {
	case no_such_device: return "no such device";
	case access_refused: return "access mode not supported";
	case device_busy: return "device already open";
	case bad_handle: return "not an open device";
	case null_argument: return "null argument";
	case source_failed:
		std::snprintf(text, sizeof text, "trace source %s: %s",
			      source_path, std::strerror(last_errno));
		return text;
	case bad_fault_setting:
		std::snprintf(text, sizeof text, "HARLEN_FAULT item not understood: \"%s\"",
			      bad_item);
		return text;
	default: return "unknown status";
	}
}

extern "C" HL_API void HL_CALL hl_report_error(hl_handle, hl_status status,
				       const char *label)
{
	std::fprintf(stderr, "%s: status %ld (%s)\n", label ? label : "HARLEN_620",
		     long(status), meaning(status));
}
