// Key presses: decoded from what a terminal sends or from Windows console
// input events, and queued in the order they were typed until the poller
// takes them, one per cycle (console_key_waiting, console_read_key).
#ifndef MSGPOLL_KEYS_H
#define MSGPOLL_KEYS_H

#include <cstddef>
#include <cstdint>

// A terminal sends one byte for a plain key, several for a UTF-8
// character, an escape sequence for a cursor or function key (F2 is
// ESC O Q, Page Down ESC [ 6 ~, F1 on the Linux console ESC [ [ A).
// key_reader is where a key press stands after the bytes fed so far.
struct key_reader {
	int stage;  // 0 before the first byte; otherwise keys.cc's stages
	int code;   // the character so far, or key_without_char
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
key_step key_feed(key_reader *k, unsigned char byte);

// Ends a key press whose remaining bytes never came, and returns its code:
// a lone ESC is the Escape key (27); a cut-off sequence or character is a
// key without a character.
int key_cut_short(key_reader *k);

// How long the rest of a key's bytes may take once its first byte is here:
// an ESC that nothing follows within it is the Escape key.
enum { rest_of_key_ms = 50 };

// Decodes the bytes a terminal sent, up to a quit key: each key they end or
// complete goes to the end of the queue. The rest of a key they begin is
// awaited until rest_of_key_ms after now (milliseconds, the caller's clock).
void keys_decode(const unsigned char *bytes, std::size_t len, int64_t now);

// The time a pause that ends at deadline waits until: while a key is begun,
// the time its rest is due instead, sooner or later. The pause is over once
// that time is past.
int64_t keys_wait_end(int64_t deadline);

// Queues the key begun, cut short, when its rest is overdue at now or will
// never come.
void keys_cut_overdue(int64_t now, bool never_comes);

// The parts of a Windows console input event that decide whether it is a
// key press msgpoll takes.
struct console_event {
	bool is_key;        // a key event, not mouse, focus, menu or window size
	bool key_down;      // pressed, not released
	uint16_t character; // UTF-16 unit it types; 0 for none
	bool alt;           // Alt held without Ctrl (Ctrl+Alt is AltGr)
};

enum { not_a_key_press = -2 };

// The code of a key press: the character it types, or key_without_char for
// a character typed with Alt held. Releases, keys that type nothing (Shift
// alone, cursor and function keys) and other events are not_a_key_press.
int key_press_code(const console_event &e);

// The queue holds this many key presses.
enum { key_queue_size = 64 };

// Adds a key press at the end of the queue. When the queue is full the key
// is dropped, unless it is a quit key: that one takes the place of the
// newest key, so a 'q' is never lost behind a burst of other keys.
void keys_put(int code);

// Whether a quit key is among the key presses queued.
bool keys_have_quit();

#endif
