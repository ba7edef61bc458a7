// The cut into lines built once more: with MSGPOLL_AVX2, for AVX2.
#include "cut.h"

uint32_t cut_lines_wide(const char *text, size_t *start, size_t end,
			char *records, uint32_t capacity)
{
	return cut_lines(text, start, end, records, capacity);
}
