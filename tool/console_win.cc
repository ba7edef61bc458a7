// The console layer on Windows: keys from the console input CONIN$, read as
// input events, pauses with Sleep.
#include "console.h"

#include <io.h>
#include <windows.h>

#include "keyevent.h"

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

// Reading events takes them as they are, whatever the console's input mode:
// msgpoll never changes that mode, so there is none to put back.
bool console_key_waiting()
{
	HANDLE in = keyboard();
	INPUT_RECORD r;
	DWORD n;

	while (in && PeekConsoleInputW(in, &r, 1, &n) && n == 1) {
		if (code_of(r) != not_a_key_press)
			return true;
		ReadConsoleInputW(in, &r, 1, &n); // not a key press: dropped
	}
	return false;
}

int console_read_key()
{
	INPUT_RECORD r;
	DWORD n;

	// After console_key_waiting, a key press is at the front of the queue.
	if (console_key_waiting() && ReadConsoleInputW(keyboard(), &r, 1, &n) &&
	    n == 1) {
		int code = code_of(r);
		if (code != not_a_key_press)
			return code;
	}
	return key_without_char;
}

bool console_is_terminal(std::FILE *stream)
{
	return _isatty(_fileno(stream)) != 0;
}

void console_sleep(uint32_t ms)
{
	// INFINITE is 4294967295: that many milliseconds are slept in two
	// parts, so that the pause still ends.
	if (ms == INFINITE) {
		Sleep(INFINITE - 1);
		ms = 1;
	}
	Sleep(ms);
}
