#include "keys.h"

#include "utf8.h"

enum {
	escape = 0x1b,
	// The C1 controls that begin a sequence as ESC [ and ESC O do, sent by
	// a terminal set to 8-bit controls, raw or in UTF-8 (C2 9B, C2 8F).
	csi = 0x9b,
	ss3 = 0x8f,

	fresh = 0,
	after_escape, // ESC
	csi_first,    // CSI
	csi_rest,     // CSI and parameter bytes, or SS3: more of them, or a final byte
	linux_fkey,   // ESC [ [: one more byte (Linux console F1-F5)
	utf8_rest,    // a UTF-8 lead byte: continuation bytes

	// The parameter of a sequence that is no paste mark (SS3, or CSI
	// with other parameter bytes than digits).
	no_mark = 1000,
};

static bool is_final(unsigned char b) { return b >= 0x40 && b <= 0x7e; }
static bool is_parameter(unsigned char b) { return b >= 0x20 && b <= 0x3f; }

static key_step finish(key_decoder *k, int code, key_step step)
{
	k->stage = fresh;
	k->code = code;
	return step;
}

static key_step introduce(key_decoder *k, int introducer)
{
	k->stage = introducer == csi ? csi_first : csi_rest;
	k->number = introducer == csi ? 0 : int(no_mark);
	return key_more;
}

// A key's first byte: ESC, CSI and SS3 begin a sequence, a UTF-8 lead
// byte a character; any other byte is a key of its own, ASCII or not.
static key_step begin(key_decoder *k, unsigned char b)
{
	if (b == escape) {
		k->stage = after_escape;
		return key_more;
	}
	if (b == csi || b == ss3)
		return introduce(k, b);
	int size = utf8_lead(b, &k->low, &k->high);
	if (size <= 1)
		return finish(k, b, key_done);
	k->stage = utf8_rest;
	k->needed = size - 1;
	k->code = b & (0x7f >> size);
	return key_more;
}

// The byte after ESC: a sequence's introducer, or the key Alt was held with.
static key_step after_esc(key_decoder *k, unsigned char b)
{
	if (b == '[' || b == 'O')
		return introduce(k, b == '[' ? csi : ss3);
	if (b == escape || b >= 0x80)
		return finish(k, escape, key_ended);
	return finish(k, key_without_char, key_done);
}

// Parameter bytes, then one final byte, as in ESC [ 6 ~ or ESC O 2 Q.
// After CSI a '[' may come first (ESC [ [ A).
static key_step sequence(key_decoder *k, unsigned char b)
{
	if (b == '[' && k->stage == csi_first) {
		k->stage = linux_fkey;
		return key_more;
	}
	if (is_parameter(b)) {
		k->stage = csi_rest;
		bool digit = b >= '0' && b <= '9';
		k->number = digit && k->number < no_mark / 10 ? k->number * 10 + (b - '0')
							       : int(no_mark);
		return key_more;
	}
	if (!is_final(b))
		return finish(k, key_without_char, key_ended);
	int mark = k->number == 200 ? paste_begins : k->number == 201 ? paste_ends : 0;
	return finish(k, b == '~' && mark ? mark : int(key_without_char), key_done);
}

// A character that is not valid UTF-8 ends as a key without a character.
static key_step utf8(key_decoder *k, unsigned char b)
{
	if (b < k->low || b > k->high)
		return finish(k, key_without_char, key_ended);
	k->low = 0x80;
	k->high = 0xbf;
	k->code = k->code << 6 | (b & 0x3f);
	if (--k->needed > 0)
		return key_more;
	if (k->code == csi || k->code == ss3)
		return introduce(k, k->code);
	return finish(k, k->code, key_done);
}

key_step key_feed(key_decoder *k, unsigned char b)
{
	switch (k->stage) {
	case after_escape:
		return after_esc(k, b);
	case csi_first:
	case csi_rest:
		return sequence(k, b);
	case linux_fkey:
		return finish(k, key_without_char, is_final(b) ? key_done : key_ended);
	case utf8_rest:
		return utf8(k, b);
	default:
		return begin(k, b);
	}
}

int key_give_up(key_decoder *k)
{
	int code = k->stage == after_escape ? int(escape) : int(key_without_char);
	finish(k, code, key_done);
	return code;
}

int key_press_code(const console_event &e)
{
	if (!e.is_key || !e.key_down || e.character == 0)
		return not_a_key_press;
	return e.alt ? int(key_without_char) : int(e.character);
}
