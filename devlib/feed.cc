#include "feed.h"
#include "cut.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

enum { demo_per_second = 5 };

int feed_open(trace_feed *f, const char *path)
{
	f->fd = -1;
	f->is_file = false;
	f->in_line = false;
	f->start = f->end = 0;
	f->offset = 0;
	f->grew_ms = f->opened_ms = clock_ms();
	f->no_writer = false;
	f->at_file_end = false;
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
// come yet. Returns false when there is none. A NUL byte, which a record's
// text cannot hold, becomes '?' when it is met.
static bool take_record(trace_feed *f, char *record, bool settle)
{
	for (;;) {
		char *p = f->text + f->start;
		size_t avail = f->end - f->start;
		if (avail == 0)
			return false;

		size_t len = 0, most = avail < 80 ? avail : 80;
		for (; len < most && p[len] != '\n'; len++)
			if (p[len] == '\0')
				p[len] = '?';
		if (len < most) {
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

// Whole lines, by the AVX2 build of the cut where the processor has it.
static uint32_t take_lines(trace_feed *f, char *records, uint32_t capacity)
{
	if (f->in_line)
		return 0;
	return wide_usable()
		? cut_lines_wide(f->text, &f->start, f->end, records, capacity)
		: cut_lines(f->text, &f->start, f->end, records, capacity);
}

// A truncated file is read again from its top, and a line the truncation
// cut is dropped, not printed as a fragment.
__attribute__((cold)) static void start_over(trace_feed *f)
{
	source_rewind(f->fd);
	f->offset = 0;
	while (f->end > f->start && f->text[f->end - 1] != '\n')
		f->end--;
	f->in_line = false;
}

// At the end of a file, its size tells what came since: nothing (the size
// is what was read), more, or a truncation. Returns whether there is
// anything to read.
static bool file_changed(trace_feed *f)
{
	long long size = source_size(f->fd, f->offset);
	if (uint64_t(size) == f->offset)
		return false;
	if (size >= 0 && uint64_t(size) < f->offset)
		start_over(f);
	return true;
}

// Reads what the source has into the free end of the text buffer. At the
// end of a file a quiet cycle costs one look at its size, not a read.
static long refill(trace_feed *f, bool *at_end)
{
	if (f->start > 0) {
		std::memmove(f->text, f->text + f->start, f->end - f->start);
		f->end -= f->start;
		f->start = 0;
	}
	if (f->at_file_end && !file_changed(f)) {
		*at_end = true;
		return 0;
	}
	long n = source_read(f->fd, f->text + f->end, feed_text_size - f->end,
			     at_end);
	f->no_writer = !f->is_file && *at_end;
	f->at_file_end = f->is_file && *at_end;
	if (n <= 0)
		return n;
	f->end += size_t(n);
	f->offset += uint64_t(n);
	f->grew_ms = clock_ms();
	return n;
}

// A line whose end has not come goes out as it is once its writer closed
// (a FIFO) or the file stopped growing a while. The clock is read only
// when such a line is held.
static bool partial_line_due(const trace_feed *f)
{
	if (f->start == f->end)
		return false;
	return f->is_file ? clock_ms() - f->grew_ms >= feed_quiet_ms : f->no_writer;
}

__attribute__((noinline)) static long fill_from_source(trace_feed *f, char *records,
						     uint32_t capacity, bool *at_end)
{
	uint32_t filled = 0;
	bool quiet = false; // the source had nothing more just now
	bool end = false;

	while (filled < capacity) {
		filled += take_lines(f, records + size_t(filled) * HL_RECORD_SIZE,
				     capacity - filled);
		if (filled == capacity)
			break;
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
	uint64_t elapsed = clock_ms() - f->opened_ms;
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

// Most reads find a file as the last one left it: they look at its size
// and no further, and the code they run is kept together (hot) and apart
// from the rest, since after each pause it is out of the caches.
__attribute__((hot)) long feed_fill(trace_feed *f, char *records,
				    uint32_t capacity, bool *at_end)
{
	if (f->fd < 0) {
		*at_end = false;
		return fill_from_demo(f, records, capacity);
	}
	if (f->at_file_end && f->start == f->end) {
		if (!file_changed(f)) {
			*at_end = true;
			return 0;
		}
		f->at_file_end = false; // looked at: read it
	}
	return fill_from_source(f, records, capacity, at_end);
}
