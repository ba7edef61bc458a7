// Where the stand-in's trace messages come from: the lines of a file or
// FIFO, or, when none is named, a built-in demo driver.
#ifndef HARLEN_FEED_H
#define HARLEN_FEED_H

#include <cstddef>
#include <cstdint>

struct trace_feed {
	int fd;        // the file or FIFO; -1 for the demo driver
	bool in_line;  // a long line's first records went out already
	size_t start;  // unread text is text[start..end)
	size_t end;
	char text[1 << 18];
	uint64_t opened_ms; // demo driver: when the device was opened
	uint32_t sent;      // demo driver: messages delivered so far
};

// Starts the feed: the lines of the file or FIFO at path, or the demo
// driver when path is null. Returns 0 or an errno value.
int feed_open(trace_feed *f, const char *path);

// Fills up to capacity records of 80 bytes. Returns how many, or -1 with
// errno set. *at_end tells that nothing was waiting and the file is at its
// end (a FIFO: no writer has it open).
long feed_fill(trace_feed *f, char *records, uint32_t capacity, bool *at_end);

void feed_close(trace_feed *f);

// Platform part: the file or FIFO itself, read without blocking.
int source_open(const char *path); // a descriptor, or -1 with errno set
// Bytes read (> 0); 0 when none are waiting, with *at_end set at the end
// of a file or of a FIFO without writer; -1 with errno set on a failure.
long source_read(int fd, char *buffer, size_t size, bool *at_end);
void source_close(int fd);

#endif
