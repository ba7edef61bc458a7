// The console's input on Windows, for console.cc.
#ifndef MSGPOLL_KEYBOARD_H
#define MSGPOLL_KEYBOARD_H

#include <cstdio>

// Opens the console's input, if msgpoll has a console, and notes whether
// out is a pipe whose reader's leaving the waits look for.
void keyboard_open(std::FILE *out);

#endif
