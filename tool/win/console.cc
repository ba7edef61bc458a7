// The console's events on Windows: Ctrl-C, Ctrl-Break and the console's
// close, and the batch hold against them.
//
// They come on a thread of their own. One that comes while a batch is in
// hand lets the batch be written first (for at most batch_cap_ms, well
// within the seconds the system gives on a close); then, or at once at any
// other moment, it discards the input that streams in behind it (the rest
// of a paste that held Ctrl-C) and ends msgpoll with the status the default
// handling gives. The main thread meanwhile ends nothing: it waits where it
// would go on. A second event ends msgpoll at once.
#include "console.h"

#include <windows.h>

#include "keyboard.h"
#include "platform.h"

enum { batch_idle, batch_in_hand, ending, closed };

static volatile LONG batch_state = batch_idle;
static HANDLE batch_written; // set once the batch in hand is written

[[noreturn]] static void end_as_interrupted()
{
	ExitProcess(DWORD(STATUS_CONTROL_C_EXIT));
}

// The main thread, where an event's handler ends msgpoll.
[[noreturn]] static void wait_for_the_end()
{
	for (;;)
		Sleep(INFINITE);
}

static BOOL WINAPI on_console_event(DWORD event)
{
	if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT &&
	    event != CTRL_CLOSE_EVENT)
		return FALSE;
	LONG was = InterlockedExchange(&batch_state, ending);
	if (was == closed || was == ending)
		end_as_interrupted(); // msgpoll is ending already, or a second event
	if (was == batch_in_hand)
		WaitForSingleObject(batch_written, batch_cap_ms);
	discard_input();
	end_as_interrupted();
}

void console_begin_batch()
{
	if (InterlockedCompareExchange(&batch_state, batch_in_hand, batch_idle) == ending)
		wait_for_the_end();
}

void console_end_batch()
{
	if (InterlockedCompareExchange(&batch_state, batch_idle, batch_in_hand) == ending) {
		SetEvent(batch_written);
		wait_for_the_end();
	}
}

void platform_open(std::FILE *out)
{
	batch_written = CreateEventW(nullptr, TRUE, FALSE, nullptr);
	SetConsoleCtrlHandler(on_console_event, TRUE);
	keyboard_open(out);
}

// An event's handler that has begun ends msgpoll; from here on one ends it
// at once.
void platform_close()
{
	SetConsoleCtrlHandler(on_console_event, FALSE);
	if (InterlockedExchange(&batch_state, closed) == ending)
		wait_for_the_end();
}
