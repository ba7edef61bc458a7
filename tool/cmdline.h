// The command line: msgpoll [-s <sleeplen>]
#ifndef MSGPOLL_CMDLINE_H
#define MSGPOLL_CMDLINE_H

#include <cstdint>
#include <cstdio>

// Reads an interval: optional white space and sign, a C-style base prefix,
// digits up to the first one that does not fit the base. The magnitude is
// limited to 4294967295 before a '-' negates it modulo 2^32. Never fails:
// a value without digits is 0.
uint32_t read_sleeplen(const char *text);

// Walks argv[1..argc-1]. Returns false at the first argument that is not
// -s, -S, /s or /S followed by a value; otherwise stores the last value
// given (200 when none) in *sleeplen and returns true.
bool read_command_line(int argc, const char *const argv[], uint32_t *sleeplen);

// Writes the usage text. Returns 0, or the errno of a failed write.
int write_usage(std::FILE *out);

#endif
