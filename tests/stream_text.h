// What a test wrote to a stream, for the tests that hand the poller files.
#ifndef MSGPOLL_STREAM_TEXT_H
#define MSGPOLL_STREAM_TEXT_H

#include <cstdio>
#include <string>

// All that f holds, from its start; f is closed.
inline std::string contents(std::FILE *f)
{
	std::string text;
	std::rewind(f);
	for (int c; (c = std::getc(f)) != EOF;)
		text += char(c);
	std::fclose(f);
	return text;
}

#endif
