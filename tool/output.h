// Standard output, written by each platform's output.cc.
#ifndef MSGPOLL_OUTPUT_H
#define MSGPOLL_OUTPUT_H

#include <cstddef>
#include <cstdio>

// The platform's text line end: "\n", or "\r\n" on Windows.
extern const char output_line_end[];
enum { output_line_end_max = 2 };

// Writes the len bytes at data to the file beneath stream, bypassing the
// stream's buffer, which must hold nothing. A short write is continued, an
// interrupted one retried; one that writes nothing is a failure. Returns 0,
// or an errno value.
int output_write(std::FILE *stream, const char *data, std::size_t len);

#endif
