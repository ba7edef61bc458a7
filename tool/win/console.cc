// The console layer's platform part on Windows: keys from the console input
// CONIN$, read as input events in bulk, waits on it that look first whether
// the reader of a pipe on standard output has gone, and a handler for
// Ctrl-C, Ctrl-Break and the console's close.
//
// Reading events takes them as they are, whatever the console's input mode:
// msgpoll never changes that mode, and a console echoes nothing that is not
// read as a line, so there is nothing to put back. A program may have left
// it in virtual-terminal input mode, where the console types each key as a
// terminal would send it (F2 as ESC O Q); the mode is looked at each time
// events are taken, and in it the keys are decoded as a terminal's bytes,
// the rest of a key awaited as on a terminal.
//
// The console's events come on a thread of their own. One that comes while
// a batch is in hand lets the batch be written first (for at most
// batch_cap_ms, well within the seconds the system gives on a close); then,
// or at once at any other moment, it discards the input that streams in
// behind it (the rest of a paste that held Ctrl-C) and ends msgpoll with
// the status the default handling gives. The main thread meanwhile ends
// nothing: it waits where it would go on. A second event ends msgpoll at
// once.
#include "console.h"

#include <cerrno>

#include <io.h>
#include <windows.h>
#include <winternl.h>

#include "keys.h"

enum {
	// The events one read takes, and the reads one wake takes at most.
	events_per_read = 256,
	reads_per_wake = 16,
};

enum { batch_idle, batch_in_hand, ending, closed };

static volatile LONG batch_state = batch_idle;
static HANDLE batch_written; // set once the batch in hand is written
static HANDLE keyboard;      // the console's input; null without a console
static HANDLE watched_out;   // standard output when a pipe; null otherwise

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
	console_discard_input();
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

static console_event event_of(const INPUT_RECORD &r)
{
	console_event e = {};
	e.is_key = r.EventType == KEY_EVENT;
	if (e.is_key) {
		const KEY_EVENT_RECORD &k = r.Event.KeyEvent;
		DWORD alt = LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED;
		DWORD ctrl = LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED;
		e.key_down = k.bKeyDown != 0;
		e.character = k.uChar.UnicodeChar;
		e.alt = (k.dwControlKeyState & alt) &&
			!(k.dwControlKeyState & ctrl);
	}
	return e;
}

// In virtual-terminal input mode the console types each key as the
// characters a terminal sends for it: their UTF-8 bytes are decoded as a
// terminal's are, a character typed with Alt held after the ESC a terminal
// sends for Alt.
static void decode_typed(const console_event &e, int64_t now)
{
	unsigned char bytes[4] = {0x1b};
	std::size_t n = e.alt ? 1 : 0;
	wchar_t unit = wchar_t(e.character);
	n += WideCharToMultiByte(CP_UTF8, 0, &unit, 1, reinterpret_cast<char *>(bytes + n), 3,
				 nullptr, nullptr);
	keys_decode(bytes, n, now);
}

// Takes the waiting input events off the console, many a call: key presses
// go to the key queue, everything else is dropped. An event left there
// would keep the console signalled, and a wait on it would never wait.
static void take_events()
{
	static INPUT_RECORD events[events_per_read];
	DWORD event_count, n, mode;
	bool as_terminal = GetConsoleMode(keyboard, &mode) &&
			   (mode & ENABLE_VIRTUAL_TERMINAL_INPUT);

	for (int i = 0; i < reads_per_wake &&
			GetNumberOfConsoleInputEvents(keyboard, &event_count) && event_count > 0;
	     i++) {
		DWORD want = event_count < DWORD(events_per_read) ? event_count : DWORD(events_per_read);
		if (!ReadConsoleInputW(keyboard, events, want, &n))
			return;
		int64_t now = platform_now_ms();
		for (DWORD k = 0; k < n; k++) {
			console_event e = event_of(events[k]);
			int code = key_press_code(e);
			if (code == not_a_key_press)
				continue;
			if (as_terminal)
				decode_typed(e, now);
			else
				keys_put(code);
		}
	}
}

static HANDLE handle_of(std::FILE *stream)
{
	return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

// Whether the reader of the pipe watched_out has gone, as the pipe's own
// state tells it without a write. Where the system does not tell, never.
static bool pipe_reader_gone()
{
	struct {
		ULONG type, configuration, max_instances, instances, inbound_quota,
			read_available, outbound_quota, write_available, state, end;
	} pipe = {};
	const ULONG closing = 4; // the other end closed its handle
	IO_STATUS_BLOCK io;
	return watched_out &&
	       NtQueryInformationFile(watched_out, &io, &pipe, sizeof pipe,
				      FILE_INFORMATION_CLASS(24)) == 0 && // pipe's local information
	       pipe.state == closing;
}

void platform_open(std::FILE *out)
{
	batch_written = CreateEventW(nullptr, TRUE, FALSE, nullptr);
	SetConsoleCtrlHandler(on_console_event, TRUE);
	keyboard = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
			       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
			       nullptr);
	if (keyboard == INVALID_HANDLE_VALUE)
		keyboard = nullptr;
	HANDLE h = handle_of(out);
	watched_out = GetFileType(h) == FILE_TYPE_PIPE ? h : nullptr;
}

// An event's handler that has begun ends msgpoll; from here on one ends it
// at once.
void platform_close()
{
	SetConsoleCtrlHandler(on_console_event, FALSE);
	if (InterlockedExchange(&batch_state, closed) == ending)
		wait_for_the_end();
}

bool console_is_terminal(std::FILE *stream)
{
	DWORD mode;
	return GetConsoleMode(handle_of(stream), &mode) != 0;
}

int64_t platform_now_ms()
{
	return int64_t(GetTickCount64());
}

// INFINITE is 4294967295: no wait or sleep is that long, so that a pause
// of that many milliseconds still ends. A reader that left is seen before
// each wait.
int platform_wait(int64_t ms, const char **what_failed)
{
	if (pipe_reader_gone()) {
		*what_failed = failed_write;
		return EPIPE;
	}
	DWORD most = ms < int64_t(INFINITE) ? DWORD(ms) : INFINITE - 1;
	if (!keyboard) {
		Sleep(most);
		return 0;
	}
	DWORD woke = WaitForSingleObject(keyboard, most);
	if (woke == WAIT_OBJECT_0)
		take_events();
	else if (woke != WAIT_TIMEOUT) {
		*what_failed = failed_wait; // it would fail again at once
		return EIO;
	}
	return 0;
}

bool platform_flush_input()
{
	return keyboard && FlushConsoleInputBuffer(keyboard);
}

bool platform_input_within(int64_t ms)
{
	return WaitForSingleObject(keyboard, DWORD(ms)) == WAIT_OBJECT_0;
}
