// The trace poller: opens the device, then looks for the quit key, reads a
// batch, prints it and pauses, until 'q' or a failure.
#ifndef MSGPOLL_POLLER_H
#define MSGPOLL_POLLER_H

#include <cstdint>
#include <cstdio>

// Runs until the user quits or an operation fails. Trace lines go to out,
// the prompt and msgpoll's own error lines to err. Returns the exit status:
// 0 after 'q' and a clean close, 1 after any failure.
int run_poller(uint32_t sleeplen, std::FILE *out, std::FILE *err);

// Writes the first count records of batch (at most 500) to out, one line
// each; an empty record prints nothing and a record without its NUL prints
// its 80 bytes. Returns 0, or the errno of a failed write.
int print_batch(std::FILE *out, const char *batch, uint32_t count);

// Writes the one line that tells the user standard output failed.
void report_write_error(std::FILE *err, int errnum);

#endif
