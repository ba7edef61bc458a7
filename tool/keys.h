// Key presses: decoded from what a terminal sends or from Windows console
// input events, and queued in the order they were typed until the poller
// takes them, one per cycle (console_key_waiting, console_read_key).
#ifndef MSGPOLL_KEYS_H
#define MSGPOLL_KEYS_H

#include <cstddef>
#include <cstdint>

// Codes that are no character: a key press that types none of its own
// (cursor, function and editing keys, Alt combinations), which
// console_read_key returns as it is; a terminal's marks around pasted text;
// a Windows input event that is no key press.
enum {
	key_without_char = -1,
	paste_begins = -2,
	paste_ends = -3,
	not_a_key_press = -4,
};

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

enum {
	// How long the rest of a key's bytes may take from its first byte: an
	// ESC that nothing follows within it is the Escape key.
	rest_of_key_ms = 50,
	// Pasted text whose end mark has not come ends once nothing has come
	// for this long (the terminal was cut off).
	paste_quiet_ms = 1000,
};

// Decodes the bytes a terminal sent, at now (milliseconds, the platform's
// clock): each key they end or complete goes to the end of the queue, but
// for pasted text. Pasted text lies between the marks and goes on after
// the end mark for as long as its bytes come without a gap of
// rest_of_key_ms, so that an end mark inside the text ends nothing.
void keys_decode(const unsigned char *bytes, std::size_t len, int64_t now);

// While a key is begun, the time its rest is due; otherwise otherwise.
int64_t keys_rest_due_or(int64_t otherwise);

// Queues the key begun, cut short, once its rest is overdue at now.
void keys_cut_overdue(int64_t now);

// Whether pasted text is coming in, at now.
bool keys_in_paste(int64_t now);

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

// The queue holds this many key presses.
enum { key_queue_size = 64 };

// Adds a key press at the end of the queue. Once a quit key is there,
// nothing more is taken: what follows it is discarded on the way out. When
// the queue is full the key is dropped, unless it is a quit key: that one
// takes the place of the newest key, so a 'q' is never lost behind a burst
// of other keys.
void keys_put(int code);

// Whether a quit key is among the key presses queued.
bool keys_have_quit();

#endif
