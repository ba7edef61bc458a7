// The key presses msgpoll has taken off the console but not used yet, in
// the order they were typed. The pause looks through them for the quit key;
// the key check takes them one per cycle.
#ifndef MSGPOLL_KEYQUEUE_H
#define MSGPOLL_KEYQUEUE_H

enum { key_queue_size = 64 };

struct key_queue {
	int codes[key_queue_size];
	unsigned first; // index of the oldest key
	unsigned count;
};

// Tells whether code is one of the keys that end msgpoll: 'q' or 'Q'.
bool is_quit_key(int code);

// Adds a key press at the end. When the queue is full the key is dropped,
// unless it is a quit key: that one takes the place of the newest key, so
// a 'q' is never lost behind a burst of other keys.
void key_queue_put(key_queue *q, int code);

// Takes the oldest key press into *code; false when there is none.
bool key_queue_take(key_queue *q, int *code);

// Whether a quit key is among the key presses queued; an empty queue, the
// common case, costs no call.
bool key_queue_find_quit(const key_queue *q);
inline bool key_queue_has_quit(const key_queue *q)
{
	return q->count > 0 && key_queue_find_quit(q);
}

#endif
