// Which Windows console input events are key presses msgpoll takes.
#ifndef MSGPOLL_KEYEVENT_H
#define MSGPOLL_KEYEVENT_H

#include <cstdint>

// The parts of a console input event that decide; console_win.cc fills it
// from an INPUT_RECORD.
struct console_event {
	bool is_key;      // a key event, not mouse, focus, menu or window size
	bool key_down;    // pressed, not released
	uint16_t character; // UTF-16 unit it types; 0 for none
	bool alt;         // Alt held without Ctrl (Ctrl+Alt is AltGr)
};

enum { not_a_key_press = -2 };

// The code of a key press: the character it types, or key_without_char for
// a character typed with Alt held. Releases, keys that type nothing (Shift
// alone, cursor and function keys) and other events are not_a_key_press.
int key_press_code(const console_event &e);

#endif
