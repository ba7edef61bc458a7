#include "feed.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

enum {
	text_max = HL_RECORD_SIZE - 1, // characters in one record
	demo_per_second = 5,
};

static uint64_t now_ms()
{
	using namespace std::chrono;
	return uint64_t(duration_cast<milliseconds>(
				steady_clock::now().time_since_epoch())
				.count());
}

int feed_open(trace_feed *f, const char *path)
{
	f->fd = -1;
	f->is_file = false;
	f->in_line = false;
	f->start = f->end = 0;
	f->offset = 0;
	f->grew_ms = f->opened_ms = now_ms();
	f->no_writer = false;
	f->sent = 0;
	if (path && (f->fd = source_open(path, &f->is_file)) < 0)
		return errno;
	return 0;
}

void feed_close(trace_feed *f)
{
	if (f->fd >= 0)
		source_close(f->fd);
	f->fd = -1;
}

// One copy of fixed size, which the compiler inlines: text has the room.
static void put_record(char *record, const char *text, size_t len)
{
	std::memcpy(record, text, HL_RECORD_SIZE);
	record[len] = '\0';
}

// Where a line longer than a record is cut: after 79 bytes, or before the
// UTF-8 character that those 79 bytes would split.
static size_t cut_point(const char *text)
{
	size_t len = text_max;
	while (len > text_max - 3 &&
	       (static_cast<unsigned char>(text[len]) & 0xc0) == 0x80)
		len--;
	return len;
}

// Takes the next record from the unread text: a whole line, the next 79
// bytes of a long one, or, when settle is set, a line whose end has not
// come yet. Returns false when there is none.
static bool take_record(trace_feed *f, char *record, bool settle)
{
	for (;;) {
		const char *p = f->text + f->start;
		size_t avail = f->end - f->start;
		if (avail == 0)
			return false;

		const void *nl = std::memchr(p, '\n', avail < 80 ? avail : 80);
		size_t len;
		if (nl) {
			len = size_t(static_cast<const char *>(nl) - p);
			f->start += len + 1;
			if (len > 0 && p[len - 1] == '\r')
				len--;
			bool rest_of_long_line = len == 0 && f->in_line;
			f->in_line = false;
			if (rest_of_long_line)
				continue;
		} else if (avail > text_max) {
			len = cut_point(p);
			f->start += len;
			f->in_line = true;
		} else if (settle) {
			len = avail;
			f->start += len;
			f->in_line = true;
		} else {
			return false;
		}
		put_record(record, p, len);
		return true;
	}
}

// A file that became shorter than what was read was truncated: it is read
// again from its top, and a line it cut is dropped, not printed as a
// fragment.
static void follow_truncation(trace_feed *f)
{
	long long size = source_size(f->fd);
	if (size < 0 || uint64_t(size) >= f->offset)
		return;
	source_rewind(f->fd);
	f->offset = 0;
	while (f->end > f->start && f->text[f->end - 1] != '\n')
		f->end--;
	f->in_line = false;
}

// Reads what the source has into the free end of the text buffer. A NUL
// byte, which a record's text cannot hold, becomes '?'.
static long refill(trace_feed *f, bool *at_end)
{
	if (f->start > 0) {
		std::memmove(f->text, f->text + f->start, f->end - f->start);
		f->end -= f->start;
		f->start = 0;
	}
	char *fresh = f->text + f->end;
	long n = source_read(f->fd, fresh, feed_text_size - f->end, at_end);
	f->no_writer = !f->is_file && *at_end;
	if (n == 0 && *at_end && f->is_file)
		follow_truncation(f);
	if (n <= 0)
		return n;
	f->end += size_t(n);
	f->offset += uint64_t(n);
	f->grew_ms = now_ms();
	for (char *p = fresh, *end = fresh + n;
	     (p = static_cast<char *>(std::memchr(p, '\0', size_t(end - p))));)
		*p++ = '?';
	return n;
}

// A line whose end has not come goes out as it is once its writer closed
// (a FIFO) or the file stopped growing a while.
static bool partial_line_due(const trace_feed *f)
{
	return f->is_file ? now_ms() - f->grew_ms >= feed_quiet_ms : f->no_writer;
}

static long fill_from_source(trace_feed *f, char *records, uint32_t capacity,
			     bool *at_end)
{
	uint32_t filled = 0;
	bool quiet = false; // the source had nothing more just now
	bool end = false;

	while (filled < capacity) {
		char *record = records + size_t(filled) * HL_RECORD_SIZE;
		if (take_record(f, record, quiet && partial_line_due(f))) {
			filled++;
		} else if (quiet) {
			break;
		} else {
			long n = refill(f, &end);
			if (n < 0)
				return -1;
			quiet = n == 0;
		}
	}
	*at_end = filled == 0 && end && f->start == f->end;
	return long(filled);
}

// The demo driver: a few plausible messages a second since the open.
static void demo_message(char *record, uint32_t seq, uint64_t at_ms)
{
	static const char *const events[] = {
		"DMA channel %u: transfer complete, %u bytes",
		"interrupt %u serviced in %u us",
		"FIFO level %u of %u words",
		"link %u: status change, speed %u Mbit/s",
		"timer %u expired, drift %u us",
		"register bank %u written, value 0x%04x",
	};
	uint32_t mix = seq * 2654435761u;
	int n = std::snprintf(record, HL_RECORD_SIZE, "%06u [%6u.%03u] ", seq,
			      unsigned(at_ms / 1000), unsigned(at_ms % 1000));
	if (n > 0 && n < HL_RECORD_SIZE)
		std::snprintf(record + n, size_t(HL_RECORD_SIZE - n),
			      events[mix % 6], mix >> 8 & 3,
			      (mix >> 12 & 0x3ff) + 16);
}

static long fill_from_demo(trace_feed *f, char *records, uint32_t capacity)
{
	uint64_t elapsed = now_ms() - f->opened_ms;
	uint64_t due = elapsed * demo_per_second / 1000 + 1;
	uint32_t filled = 0;

	while (filled < capacity && f->sent < due) {
		f->sent++;
		uint64_t at = uint64_t(f->sent - 1) * 1000 / demo_per_second;
		demo_message(records + size_t(filled) * HL_RECORD_SIZE, f->sent,
			     at);
		filled++;
	}
	return long(filled);
}

long feed_fill(trace_feed *f, char *records, uint32_t capacity, bool *at_end)
{
	if (f->fd >= 0)
		return fill_from_source(f, records, capacity, at_end);
	*at_end = false;
	return fill_from_demo(f, records, capacity);
}
