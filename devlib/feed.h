// Where the stand-in's trace messages come from: the lines of a file or
// FIFO, or, when none is named, a built-in demo driver.
#ifndef HARLEN_FEED_H
#define HARLEN_FEED_H

#include <cstddef>
#include <cstdint>

#include "harlen620.h"

enum {
	// The source is read up to 128 KB at a time.
	feed_text_size = 1 << 17,
	// How long a line without its end waits in a file that stopped
	// growing before it goes out as it is.
	feed_quiet_ms = 1000,
};

struct trace_feed {
	int fd;         // the file or FIFO; -1 for the demo driver
	bool is_file;   // a regular file: followed as it grows, and truncated
	bool at_end;    // the last read found the end: of a file (whose size
			// is looked at before it is read again), or of a FIFO
			// that no writer has open
	bool in_line;   // a long line's first records went out already
	size_t start;   // unread text is text[start..end)
	size_t end;
	uint64_t offset;  // bytes read from the file since its top
	uint64_t grew_ms; // when text last came
	char text[feed_text_size];
	uint64_t opened_ms; // demo driver: when the device was opened
	uint32_t sent;      // demo driver: messages delivered so far
};

// Starts the feed: the lines of the file or FIFO at path, or the demo
// driver when path is null. Returns 0 or an errno value.
int feed_open(trace_feed *f, const char *path);

// Fills up to capacity records of 80 bytes. Returns how many, or -1 with
// errno set. *at_end tells that nothing was waiting, none is held, and the
// file is at its end (a FIFO: no writer has it open).
long feed_fill(trace_feed *f, char *records, uint32_t capacity, bool *at_end);

void feed_close(trace_feed *f);

// Platform part: the file or FIFO itself, read without blocking.
// A descriptor, or -1 with errno set; *is_file tells a regular file.
int source_open(const char *path, bool *is_file);
// Bytes read (> 0); 0 when none are waiting, with *at_end set at the end
// of a file or of a FIFO without writer; -1 with errno set on a failure.
long source_read(int fd, char *buffer, size_t size, bool *at_end);
// The size of a regular file now, or -1. Where learning it moves the read
// position (a seek to the end), the position is put back to offset.
long long source_seek_size(int fd, uint64_t offset);
// Reads on from the file's top.
void source_rewind(int fd);
void source_close(int fd);
// Milliseconds on a clock that only goes forward.
uint64_t clock_ms();

#endif
