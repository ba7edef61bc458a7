#include "feed.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

enum {
	demo_per_second = 5,
	record_text_max = HL_RECORD_SIZE - 1, // characters in one record
};

int feed_open(trace_feed *f, const char *path)
{
	f->fd = -1;
	f->is_file = f->at_end = f->in_line = false;
	f->start = f->end = 0;
	f->offset = 0;
	f->grew_ms = f->opened_ms = clock_ms();
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
	size_t len = record_text_max;
	while (len > record_text_max - 3 &&
	       (static_cast<unsigned char>(text[len]) & 0xc0) == 0x80)
		len--;
	return len;
}

// Takes the next record from the unread text: a whole line without its
// line end (LF or CR LF), the next bytes of a long one, or, when partial is
// set, a line whose end has not come yet. Returns false when there is none.
static bool take_record(trace_feed *f, char *record, bool partial)
{
	for (;;) {
		char *p = f->text + f->start;
		size_t avail = f->end - f->start, len;
		if (avail == 0)
			return false;
		char *line_end = static_cast<char *>(
			std::memchr(p, '\n', avail < HL_RECORD_SIZE ? avail : HL_RECORD_SIZE));
		if (line_end) {
			len = size_t(line_end - p);
			f->start += len + 1;
			if (len > 0 && p[len - 1] == '\r')
				len--;
			bool rest_of_long_line = len == 0 && f->in_line;
			f->in_line = false;
			if (rest_of_long_line)
				continue; // the line end after a long line's last record
		} else if (avail > record_text_max || partial) {
			len = avail > record_text_max ? cut_point(p) : avail;
			f->start += len;
			f->in_line = true;
		} else {
			return false;
		}
		std::memcpy(record, p, len);
		record[len] = '\0';
		return true;
	}
}

// A truncated file is read again from its top, and a line the truncation
// cut is dropped, not printed as a fragment.
static void start_over(trace_feed *f)
{
	source_rewind(f->fd);
	f->offset = 0;
	while (f->end > f->start && f->text[f->end - 1] != '\n')
		f->end--;
	f->in_line = false;
}

// Reads what the source has into the free end of the text buffer; returns
// the bytes read, or -1. At the end of a file, its size tells first whether
// anything came since (or the file was truncated): a quiet cycle costs one
// look at the size, not a read.
static long refill(trace_feed *f)
{
	if (f->start > 0) {
		std::memmove(f->text, f->text + f->start, f->end - f->start);
		f->end -= f->start;
		f->start = 0;
	}
	if (f->is_file && f->at_end) {
		long long size = source_seek_size(f->fd, f->offset);
		if (uint64_t(size) == f->offset)
			return 0;
		if (size >= 0 && uint64_t(size) < f->offset)
			start_over(f);
	}
	char *read = f->text + f->end;
	long n = source_read(f->fd, read, feed_text_size - f->end, &f->at_end);
	if (n > 0) {
		// A NUL byte, which a record's text cannot hold, becomes '?'.
		char *nul = read;
		while ((nul = static_cast<char *>(std::memchr(nul, '\0', size_t(read + n - nul)))))
			*nul = '?';
		f->end += size_t(n);
		f->offset += uint64_t(n);
		f->grew_ms = clock_ms();
	}
	return n;
}

// A line whose end has not come goes out as it is once its writer closed
// (a FIFO) or the file stopped growing a while.
static bool partial_line_due(const trace_feed *f)
{
	if (f->start == f->end)
		return false;
	return f->is_file ? clock_ms() - f->grew_ms >= feed_quiet_ms : f->at_end;
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

static uint32_t fill_from_demo(trace_feed *f, char *records, uint32_t capacity)
{
	uint64_t due = (clock_ms() - f->opened_ms) * demo_per_second / 1000 + 1;
	uint32_t filled = 0;
	for (; filled < capacity && f->sent < due; filled++, f->sent++)
		demo_message(records + size_t(filled) * HL_RECORD_SIZE, f->sent + 1,
			     uint64_t(f->sent) * 1000 / demo_per_second);
	return filled;
}

long feed_fill(trace_feed *f, char *records, uint32_t capacity, bool *at_end)
{
	*at_end = false;
	if (f->fd < 0)
		return long(fill_from_demo(f, records, capacity));
	uint32_t filled = 0;
	bool quiet = false; // the source had nothing more just now
	while (filled < capacity) {
		char *record = records + size_t(filled) * HL_RECORD_SIZE;
		bool partial_too = quiet && partial_line_due(f);
		if (take_record(f, record, partial_too)) {
			filled++;
		} else if (quiet) {
			break;
		} else {
			long n = refill(f);
			if (n < 0)
				return -1;
			quiet = n == 0;
		}
	}
	*at_end = filled == 0 && f->at_end && f->start == f->end;
	return long(filled);
}
