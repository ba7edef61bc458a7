// The trace poller: opens the device, then looks for the quit key, reads a
// batch, prints it and pauses, until 'q' or a failure.
#ifndef MSGPOLL_POLLER_H
#define MSGPOLL_POLLER_H

#include <cstdint>
#include <cstdio>

#include "harlen620.h"

// The most text one batch can print: every byte of every record shown as
// \xHH, and a line end after each.
enum { batch_text_max = HL_BATCH_RECORDS * (4 * HL_RECORD_SIZE + 1) };

// Runs until the user quits or an operation fails. Trace lines go to out,
// the prompt and msgpoll's own error lines to err. Returns the exit status:
// 0 after 'q' and a clean close, 1 after any failure.
int run_poller(uint32_t sleeplen, std::FILE *out, std::FILE *err);

// Writes the first count records of batch (at most 500) to out, one line
// each, and flushes out when it printed any; an empty record prints nothing
// and a record without its NUL prints its 80 bytes. With shown, control
// bytes are written as \xHH (see shown_text). Returns 0, or the errno of a
// failed write.
int print_batch(std::FILE *out, const char *batch, uint32_t count, bool shown);

// Copies the len bytes of text to to, each control byte written as \xHH:
// bytes below 0x20 but TAB, 0x7F, and both bytes of the UTF-8 form of a
// C1 control (C2 80 to C2 9F). Every other byte passes unchanged. Returns
// the end of what it wrote, at most 4 * len bytes.
char *shown_text(char *to, const char *text, std::size_t len);

// Writes the one line that tells the user standard output failed.
void report_write_error(std::FILE *err, int errnum);

#endif
