// Turns the bytes a terminal sends into key presses: one byte for a plain
// key, several for a UTF-8 character, an escape sequence for a cursor or
// function key (F2 is ESC O Q, Page Down ESC [ 6 ~, F1 on the Linux
// console ESC [ [ A).
#ifndef MSGPOLL_KEYSEQ_H
#define MSGPOLL_KEYSEQ_H

// Where a key press stands after the bytes fed so far.
struct key_reader {
	int stage;  // 0 before the first byte; otherwise keyseq.cc's stages
	int code;   // the character so far, or key_without_char
	int needed; // UTF-8 continuation bytes still to come
};

enum key_step {
	key_more, // the byte belongs to the key; more bytes are expected
	key_done, // the byte completed the key
	key_ended, // the key ended before this byte, which begins the next one
};

// Feeds the next byte of the key press that k has begun (or will begin, when
// k is fresh). After key_done or key_ended, k->code is the key's code.
key_step key_feed(key_reader *k, unsigned char byte);

// Ends a key press whose remaining bytes never came, and returns its code:
// a lone ESC is the Escape key (27); a cut-off sequence or character is a
// key without a character.
int key_cut_short(key_reader *k);

#endif
