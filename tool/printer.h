// What msgpoll prints: a batch's trace lines, laid out as a pure function
// of the batch, and msgpoll's own error line.
#ifndef MSGPOLL_PRINTER_H
#define MSGPOLL_PRINTER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "harlen620.h"
#include "output.h"

// The most text one batch can print: every byte of every record shown as
// \xHH, and a line end after each.
enum {
	batch_text_max = HL_BATCH_RECORDS * (4 * HL_RECORD_SIZE + output_line_end_max)
};

// Lays out the first count records of batch (at most 500) in to, one line
// each with the platform's line end; an empty record gives nothing and a
// record without its NUL gives its 80 bytes. With for_terminal, bytes a
// terminal would obey or garble are written as \xHH: control bytes (below
// 0x20 but TAB, and 0x7F), both bytes of the UTF-8 form of a C1 control
// (C2 80 to C2 9F), and each byte that is not part of valid UTF-8; valid
// UTF-8 passes unchanged. Returns the length, at most batch_text_max.
std::size_t batch_lines(char *to, const char *batch, uint32_t count, bool for_terminal);

// Writes the one line that tells the user what msgpoll could not do
// (failed_write, failed_wait) and why.
void report_failure(std::FILE *err, const char *what, int errnum);

#endif
