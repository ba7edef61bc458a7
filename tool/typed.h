// What was typed: the key presses queued until the poller takes them, the
// key whose bytes are still coming in, and pasted text, all in one place.
// Times are milliseconds on the platform's clock, handed in.
#ifndef MSGPOLL_TYPED_H
#define MSGPOLL_TYPED_H

#include <cstddef>
#include <cstdint>

enum {
	// Input that comes with gaps shorter than this is one burst: so goes
	// a paste on after its end mark, and the discard after a quit key.
	burst_gap_ms = 50,
	// The longest a burst is discarded.
	burst_cap_ms = 1000,
	// How long the rest of a key's bytes may take from its first byte: an
	// ESC that nothing follows within it is the Escape key.
	rest_of_key_ms = 50,
	// Pasted text whose end mark has not come ends once nothing has come
	// for this long (the terminal was cut off).
	paste_quiet_ms = 1000,
	// The queue holds this many key presses.
	key_queue_size = 64,
};

// Decodes the bytes a terminal sent, at now: each key they end or complete
// goes to the end of the queue, but for pasted text. Pasted text lies
// between the marks and goes on after the end mark for as long as its
// bytes come without a gap of burst_gap_ms, so that an end mark inside the
// text ends nothing.
void typed_decode(const unsigned char *bytes, std::size_t len, int64_t now);

// Adds a key press at the end of the queue; none after a quit key. When the
// queue is full the key is dropped, unless it is a quit key: that one takes
// the place of the newest, so a 'q' is never lost behind other keys.
void typed_put(int code);

// Whether a key's first bytes came and its rest is awaited, and until when.
bool typed_key_begun();
int64_t typed_rest_due();

// Queues the key begun, cut short, once its rest is overdue at now.
void typed_cut_overdue_key(int64_t now);

// Whether pasted text is coming in, at now.
bool typed_in_paste(int64_t now);

// The queue: whether a quit key is in it, whether it holds a key, and its
// oldest key, taken off it.
bool typed_quit_waiting();
bool typed_key_waiting();
int typed_take_key();

// Forgets all that was typed.
void typed_reset();

#endif
