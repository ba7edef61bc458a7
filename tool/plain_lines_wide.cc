// The lines of a batch built once more: with MSGPOLL_AVX2, for AVX2.
#include "plain_lines.h"

std::size_t plain_lines_wide(char *to, const char *batch, uint32_t count)
{
	return plain_lines(to, batch, count);
}
