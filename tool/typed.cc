#include "typed.h"

#include "keys.h"

static struct {
	key_decoder decoder; // a key press whose bytes are coming in
	int64_t rest_due;    // when the rest of that key must have come

	// Pasted text: between the marks, and after the end mark while it
	// keeps coming.
	bool paste_open;     // its end mark has not come
	int64_t paste_until; // it is over when nothing has come by then

	// The key presses taken off the console and not used yet, oldest
	// first.
	int codes[key_queue_size];
	unsigned first;
	unsigned count;
} typed;

void typed_reset()
{
	typed = {};
}

static void take(int code, int64_t now)
{
	if (code == paste_begins) {
		typed.paste_open = true;
		typed.paste_until = INT64_MAX; // until its bytes in hand are decoded
	} else if (code == paste_ends) {
		typed.paste_open = false;
	} else if (!typed_in_paste(now)) {
		typed_put(code);
	}
}

// A byte that ends a key begins the next one.
void typed_decode(const unsigned char *bytes, std::size_t len, int64_t now)
{
	for (std::size_t i = 0; i < len; i++) {
		key_step step;
		do {
			if (!typed_key_begun())
				typed.rest_due = now + rest_of_key_ms;
			step = key_feed(&typed.decoder, bytes[i]);
			if (step != key_more)
				take(typed.decoder.code, now);
		} while (step == key_ended);
	}
	if (typed_in_paste(now))
		typed.paste_until = now + (typed.paste_open ? paste_quiet_ms : burst_gap_ms);
}

bool typed_key_begun()
{
	return typed.decoder.stage != 0;
}

int64_t typed_rest_due()
{
	return typed.rest_due;
}

void typed_cut_overdue_key(int64_t now)
{
	if (typed_key_begun() && now >= typed.rest_due)
		take(key_give_up(&typed.decoder), now);
}

bool typed_in_paste(int64_t now)
{
	return now < typed.paste_until;
}

static int queued(unsigned i)
{
	return typed.codes[(typed.first + i) % key_queue_size];
}

void typed_put(int code)
{
	if ((typed.count == key_queue_size && !is_quit_key(code)) || typed_quit_waiting())
		return;
	if (typed.count == key_queue_size)
		typed.count--;
	typed.codes[(typed.first + typed.count++) % key_queue_size] = code;
}

bool typed_quit_waiting()
{
	for (unsigned i = 0; i < typed.count; i++)
		if (is_quit_key(queued(i)))
			return true;
	return false;
}

bool typed_key_waiting()
{
	return typed.count > 0;
}

int typed_take_key()
{
	if (typed.count == 0)
		return key_without_char;
	int code = queued(0);
	typed.first = (typed.first + 1) % key_queue_size;
	typed.count--;
	return code;
}
