// The console layer on Windows: keys from the console input CONIN$, read as
// input events, pauses that wait on it.
//
// Reading events takes them as they are, whatever the console's input mode:
// msgpoll never changes that mode, and a console echoes nothing that is not
// read as a line, so there is nothing to put back.
#include "console.h"

#include <io.h>
#include <windows.h>

#include "keyevent.h"
#include "keyqueue.h"

static key_queue keys; // key presses taken off the console but not used yet

static HANDLE keyboard()
{
	static HANDLE input = nullptr;
	static bool tried = false;
	if (!tried) {
		tried = true;
		HANDLE h = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
				       FILE_SHARE_READ | FILE_SHARE_WRITE,
				       nullptr, OPEN_EXISTING, 0, nullptr);
		input = h == INVALID_HANDLE_VALUE ? nullptr : h;
	}
	return input;
}

void console_open()
{
}

void console_close()
{
}

static int code_of(const INPUT_RECORD &r)
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
	return key_press_code(e);
}

// Takes the waiting input events off the console, up to a quit key: key
// presses go to the key queue, everything else is dropped. An event left
// there would keep the console signalled, and a wait on it would never
// wait; whatever is typed after a quit key is the next program's to read.
static void take_events()
{
	HANDLE in = keyboard();
	INPUT_RECORD event;
	DWORD n;

	while (in && !key_queue_has_quit(&keys) &&
	       GetNumberOfConsoleInputEvents(in, &n) && n > 0 &&
	       ReadConsoleInputW(in, &event, 1, &n) && n == 1) {
		int code = code_of(event);
		if (code != not_a_key_press)
			key_queue_put(&keys, code);
	}
}

bool console_key_waiting()
{
	if (keys.count == 0)
		take_events();
	return keys.count > 0;
}

int console_read_key()
{
	int code;
	return key_queue_take(&keys, &code) ? code : int(key_without_char);
}

bool console_is_terminal(std::FILE *stream)
{
	HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
	DWORD mode;
	return GetConsoleMode(h, &mode) != 0;
}

// INFINITE is 4294967295: no single wait or sleep is that long, so that
// such a pause still ends.
static DWORD finite(DWORD ms)
{
	return ms == INFINITE ? INFINITE - 1 : ms;
}

void console_pause(uint32_t ms)
{
	HANDLE in = keyboard();
	if (ms == 0 || !in) {
		Sleep(finite(ms));
		if (ms == INFINITE)
			Sleep(1);
		return;
	}
	ULONGLONG deadline = GetTickCount64() + ms;
	for (DWORD left = ms; left > 0 && !key_queue_has_quit(&keys);) {
		DWORD woke = WaitForSingleObject(in, finite(left));
		if (woke == WAIT_OBJECT_0)
			take_events();
		else if (woke != WAIT_TIMEOUT)
			Sleep(finite(left)); // the console failed us: a plain pause
		ULONGLONG now = GetTickCount64();
		left = now < deadline ? DWORD(deadline - now) : 0;
	}
}
