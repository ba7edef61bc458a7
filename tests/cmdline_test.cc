// The command line: the four spellings of -s and nothing else; the
// interval's value as msgpoll reads it (bases, signs, trailing text, 32 bits
// before the sign); the usage text, byte for byte.
#include "cmdline.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

// The interval a command line gives, or -1 when it is rejected.
int64_t interval(std::initializer_list<const char *> args)
{
	std::vector<const char *> argv = {"msgpoll"};
	argv.insert(argv.end(), args);
	uint32_t sleeplen = 12345;
	if (!read_command_line(int(argv.size()), argv.data(), &sleeplen))
		return -1;
	return sleeplen;
}

TEST(CommandLine, AcceptsTheFourSpellingsOfTheOption)
{
	EXPECT_EQ(interval({}), 200);
	EXPECT_EQ(interval({"-s", "1000"}), 1000);
	EXPECT_EQ(interval({"-S", "1000"}), 1000);
	EXPECT_EQ(interval({"/s", "1000"}), 1000);
	EXPECT_EQ(interval({"/S", "0x3e8"}), 1000);
	EXPECT_EQ(interval({"-s", "100", "-s", "300"}), 300);
	EXPECT_EQ(interval({"-s", "-s"}), 0);
	EXPECT_EQ(interval({"-s", "/s"}), 0);
}

TEST(CommandLine, RejectsAnythingElse)
{
	for (auto args : {std::vector<const char *>{"-s"}, {"-s500"}, {"-"},
			  {"-x"}, {"--s"}, {"word"}, {"-s", "100", "word"},
			  {""}, {"/"}, {"/x", "1"}, {"s", "1"}, {"-s", "1", "-s"}}) {
		std::vector<const char *> argv = {"msgpoll"};
		argv.insert(argv.end(), args.begin(), args.end());
		uint32_t sleeplen = 7;
		EXPECT_FALSE(read_command_line(int(argv.size()), argv.data(),
					       &sleeplen))
			<< args[0];
		EXPECT_EQ(sleeplen, 7u);
	}
}

TEST(Sleeplen, BasesSignsAndTrailingText)
{
	EXPECT_EQ(read_sleeplen("010"), 8u);
	EXPECT_EQ(read_sleeplen("12abc"), 12u);
	EXPECT_EQ(read_sleeplen("abc"), 0u);
	EXPECT_EQ(read_sleeplen(""), 0u);
	EXPECT_EQ(read_sleeplen("0x"), 0u);
	EXPECT_EQ(read_sleeplen("0xg"), 0u);
	EXPECT_EQ(read_sleeplen("0XfF"), 255u);
	EXPECT_EQ(read_sleeplen("09"), 0u);
	EXPECT_EQ(read_sleeplen("0778"), 63u);
	EXPECT_EQ(read_sleeplen(" \t\n\v\f\r+42"), 42u);
	EXPECT_EQ(read_sleeplen("+-1"), 0u);
	EXPECT_EQ(read_sleeplen("- 1"), 0u);
	EXPECT_EQ(read_sleeplen("-0x10"), 4294967280u);
}

TEST(Sleeplen, MagnitudeIsLimitedToThirtyTwoBitsBeforeTheSign)
{
	EXPECT_EQ(read_sleeplen("-1"), 4294967295u);
	EXPECT_EQ(read_sleeplen("4294967295"), 4294967295u);
	EXPECT_EQ(read_sleeplen("4294967296"), 4294967295u);
	EXPECT_EQ(read_sleeplen("99999999999999999999999999"), 4294967295u);
	EXPECT_EQ(read_sleeplen("0xffffffffffffffffffff"), 4294967295u);
	EXPECT_EQ(read_sleeplen("077777777777777777"), 4294967295u);
	EXPECT_EQ(read_sleeplen("-4294967295"), 1u);
	EXPECT_EQ(read_sleeplen("-4294967296"), 1u);
	EXPECT_EQ(read_sleeplen("-99999999999999999999999999"), 1u);
	EXPECT_EQ(read_sleeplen("-4294967294"), 2u);
}

TEST(Usage, IsTheFixedTextByteForByte)
{
	std::FILE *out = std::tmpfile();
	ASSERT_EQ(write_usage(out), 0);
	std::string text;
	std::rewind(out);
	for (int c; (c = std::getc(out)) != EOF;)
		text += char(c);
	std::fclose(out);
	EXPECT_EQ(text,
		  "msgpoll is a console application that reads the trace "
		  "messages\n"
		  "from the Harlen device driver and prints them to standard "
		  "out.\n\n"
		  "usage:\n\t\tmsgpoll [-s <sleeplen>]\n\n"
		  "Where sleeplen is the number of milliseconds to sleep "
		  "between\n"
		  "reads of trace messages.\nTo quit the application press "
		  "'q'.\n\n");
}

} // namespace
