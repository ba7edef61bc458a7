// Keys: the codes msgpoll knows them by, and the pure rules that turn a
// terminal's bytes or a Windows console's input event into them.
#ifndef MSGPOLL_KEYS_H
#define MSGPOLL_KEYS_H

#include <cstdint>

// Codes that are no character: a key press that types none of its own
// (cursor, function and editing keys, Alt combinations); a terminal's
// marks around pasted text; a Windows input event that is no key press.
enum {
	key_without_char = -1,
	paste_begins = -2,
	paste_ends = -3,
	not_a_key_press = -4,
};

// The keys that end msgpoll.
inline bool is_quit_key(int code)
{
	return code == 'q' || code == 'Q';
}

// A terminal sends one byte for a plain key, several for a UTF-8
// character, an escape sequence for a cursor or function key (F2 is
// ESC O Q, Page Down ESC [ 6 ~, F1 on the Linux console ESC [ [ A), and,
// when asked, ESC [ 200 ~ before pasted text and ESC [ 201 ~ after it.
// key_decoder is where a key press stands after the bytes fed so far.
struct key_decoder {
	int stage;  // 0 before the first byte; otherwise keys.cc's stages
	int code;   // the character so far
	int number; // a sequence's parameter so far, when it may be a paste mark
	int needed; // UTF-8 continuation bytes still to come
	unsigned char low, high; // the range the next of them must lie in
};

enum key_step {
	key_more,  // the byte belongs to the key; more bytes are expected
	key_done,  // the byte completed the key
	key_ended, // the key ended before this byte, which begins the next one
};

// Feeds the next byte of the key press that k has begun (or will begin, when
// k is fresh). After key_done or key_ended, k->code is the key's code.
key_step key_feed(key_decoder *k, unsigned char byte);

// Ends the key press whose remaining bytes never came, and returns its
// code: a lone ESC is the Escape key (27); a cut-off sequence or character
// is a key without a character.
int key_give_up(key_decoder *k);

// The parts of a Windows console input event that decide whether it is a
// key press msgpoll takes.
struct console_event {
	bool is_key;        // a key event, not mouse, focus, menu or window size
	bool key_down;      // pressed, not released
	uint16_t character; // UTF-16 unit it types; 0 for none
	bool alt;           // Alt held without Ctrl (Ctrl+Alt is AltGr)
};

// The code of a key press: the character it types, or key_without_char for
// a character typed with Alt held. Releases, keys that type nothing (Shift
// alone, cursor and function keys) and other events are not_a_key_press.
int key_press_code(const console_event &e);

#endif
