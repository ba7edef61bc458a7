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

// Writes the batch's lines to out in one write, bypassing the stream's
// buffer. Returns 0, or the errno of a failed write.
int print_batch(std::FILE *out, const char *batch, uint32_t count, bool for_terminal);

#endif
