// The console's input on Windows: keys from CONIN$, taken as input events
// in bulk whatever the console's input mode (msgpoll never changes it; in
// virtual-terminal input mode the keys are decoded as a terminal's bytes),
// and the waits on it, which look first whether a pipe's reader has gone.
#include "keyboard.h"

#include <cerrno>

#include <io.h>
#include <windows.h>
#include <winternl.h>

#include "console.h"
#include "keys.h"
#include "platform.h"
#include "typed.h"

enum {
	// The events one read takes, and the reads one wake takes at most.
	events_per_read = 256,
	reads_per_wake = 16,
};

static HANDLE keyboard;    // the console's input; null without a console
static HANDLE watched_out; // standard output when a pipe; null otherwise

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

// A key as the characters a terminal sends for it: their UTF-8 bytes, after
// the ESC a terminal sends for Alt.
static void decode_typed(const console_event &e, int64_t now)
{
	unsigned char bytes[4] = {0x1b};
	std::size_t n = e.alt ? 1 : 0;
	wchar_t unit = wchar_t(e.character);
	n += WideCharToMultiByte(CP_UTF8, 0, &unit, 1, reinterpret_cast<char *>(bytes + n), 3,
				 nullptr, nullptr);
	typed_decode(bytes, n, now);
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
				typed_put(code);
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

void keyboard_open(std::FILE *out)
{
	keyboard = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
			       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
			       nullptr);
	if (keyboard == INVALID_HANDLE_VALUE)
		keyboard = nullptr;
	HANDLE h = handle_of(out);
	watched_out = GetFileType(h) == FILE_TYPE_PIPE ? h : nullptr;
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
