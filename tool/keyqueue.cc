#include "keyqueue.h"

bool is_quit_key(int code)
{
	return code == 'q' || code == 'Q';
}

void key_queue_put(key_queue *q, int code)
{
	if (q->count == key_queue_size && !is_quit_key(code))
		return;
	if (q->count == key_queue_size)
		q->count--;
	q->codes[(q->first + q->count++) % key_queue_size] = code;
}

bool key_queue_take(key_queue *q, int *code)
{
	if (q->count == 0)
		return false;
	*code = q->codes[q->first];
	q->first = (q->first + 1) % key_queue_size;
	q->count--;
	return true;
}

bool key_queue_find_quit(const key_queue *q)
{
	for (unsigned i = 0; i < q->count; i++)
		if (is_quit_key(q->codes[(q->first + i) % key_queue_size]))
			return true;
	return false;
}
