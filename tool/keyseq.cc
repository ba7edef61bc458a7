#include "keyseq.h"

#include "console.h"

enum {
	escape = 0x1b,

	fresh = 0,
	after_escape, // ESC
	csi_first,    // ESC [
	csi_rest,     // ESC [ and parameter bytes: more of them, or a final byte
	linux_fkey,   // ESC [ [: one more byte (Linux console F1-F5)
	utf8_rest,    // a UTF-8 lead byte: continuation bytes
};

static bool is_final(unsigned char b) { return b >= 0x40 && b <= 0x7e; }
static bool is_parameter(unsigned char b) { return b >= 0x20 && b <= 0x3f; }

static key_step finish(key_reader *k, int code, key_step step)
{
	k->stage = fresh;
	k->code = code;
	return step;
}

static key_step begin(key_reader *k, unsigned char b)
{
	if (b == escape) {
		k->stage = after_escape;
		return key_more;
	}
	int needed = b >= 0xf0 && b <= 0xf4 ? 3
		     : b >= 0xe0 && b <= 0xef ? 2
		     : b >= 0xc2 && b <= 0xdf ? 1
					     : 0;
	if (needed == 0)
		return finish(k, b, key_done);
	k->stage = utf8_rest;
	k->needed = needed;
	k->code = b & (0x3f >> needed);
	return key_more;
}

// The byte after ESC: a sequence's introducer, or the key Alt was held with.
static key_step after_esc(key_reader *k, unsigned char b)
{
	if (b == '[' || b == 'O') {
		k->stage = b == '[' ? csi_first : csi_rest;
		return key_more;
	}
	if (b == escape || b >= 0x80)
		return finish(k, escape, key_ended);
	return finish(k, key_without_char, key_done);
}

// Parameter bytes, then one final byte, as in ESC [ 6 ~ or ESC O 2 Q.
static key_step sequence(key_reader *k, unsigned char b)
{
	if (b == '[' && k->stage == csi_first) {
		k->stage = linux_fkey;
		return key_more;
	}
	if (is_parameter(b)) {
		k->stage = csi_rest;
		return key_more;
	}
	return finish(k, key_without_char, is_final(b) ? key_done : key_ended);
}

static key_step utf8(key_reader *k, unsigned char b)
{
	if ((b & 0xc0) != 0x80)
		return finish(k, key_without_char, key_ended);
	k->code = k->code << 6 | (b & 0x3f);
	if (--k->needed > 0)
		return key_more;
	return finish(k, k->code, key_done);
}

key_step key_feed(key_reader *k, unsigned char b)
{
	switch (k->stage) {
	case after_escape:
		return after_esc(k, b);
	case csi_first:
	case csi_rest:
		return sequence(k, b);
	case linux_fkey:
		return finish(k, key_without_char,
			      is_final(b) ? key_done : key_ended);
	case utf8_rest:
		return utf8(k, b);
	default:
		return begin(k, b);
	}
}

int key_cut_short(key_reader *k)
{
	int code = k->stage == after_escape ? int(escape) : int(key_without_char);
	finish(k, code, key_done);
	return code;
}
