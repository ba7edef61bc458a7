// The trace poller: opens the device, then looks for the quit key, reads a
// batch, prints it and pauses, until 'q' or a failure.
#ifndef MSGPOLL_POLLER_H
#define MSGPOLL_POLLER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "harlen620.h"
#include "console.h"

// The most text one batch can print: every byte of every record shown as
// \xHH, and a line end after each.
enum {
	batch_text_max = HL_BATCH_RECORDS * (4 * HL_RECORD_SIZE + output_line_end_max)
};

// Runs until the user quits or an operation fails. Trace lines go to out,
// the prompt and msgpoll's own error lines to err. Returns the exit status:
// 0 after 'q' and a clean close, 1 after any failure.
int run_poller(uint32_t sleeplen, std::FILE *out, std::FILE *err);

// Lays out the first count records of batch (at most 500) in to, one line
// each with the platform's line end; an empty record gives nothing and a
// record without its NUL gives its 80 bytes. With for_terminal, bytes a
// terminal would obey or garble are written as \xHH: control bytes (below
// 0x20 but TAB, and 0x7F), both bytes of the UTF-8 form of a C1 control
// (C2 80 to C2 9F), and each byte that is not part of valid UTF-8; valid
// UTF-8 passes unchanged. Returns the length, at most batch_text_max.
std::size_t batch_lines(char *to, const char *batch, uint32_t count, bool for_terminal);

// Writes the batch's lines to out in one write, bypassing the stream's
// buffer. Returns 0, or the errno of a failed write.
int print_batch(std::FILE *out, const char *batch, uint32_t count, bool for_terminal);

// Writes the one line that tells the user what msgpoll could not do
// (failed_write, failed_wait) and why.
void report_failure(std::FILE *err, const char *what, int errnum);

#endif
