#include "keyevent.h"

#include "console.h"

int key_press_code(const console_event &e)
{
	if (!e.is_key || !e.key_down || e.character == 0)
		return not_a_key_press;
	return e.alt ? int(key_without_char) : int(e.character);
}
