#include "keyseq.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console.h"
#include "keyqueue.h"

namespace {

// The key codes a terminal's bytes make, as console_read_key returns them
// one per call: a byte that ends a key early starts the next one, and a key
// whose bytes stop coming is cut short.
std::vector<int> keys(const std::string &bytes)
{
	std::vector<int> codes;
	key_reader k = {};
	for (std::size_t i = 0; i < bytes.size(); i++) {
		key_step step = key_feed(&k, static_cast<unsigned char>(bytes[i]));
		if (step == key_more)
			continue;
		codes.push_back(k.code);
		if (step == key_ended)
			i--;
	}
	if (k.stage != 0)
		codes.push_back(key_cut_short(&k));
	return codes;
}

const int none = key_without_char;

TEST(KeySequence, PlainKeysAreTheirOwnCodes)
{
	EXPECT_EQ(keys("xqQ"), (std::vector<int>{'x', 'q', 'Q'}));
	EXPECT_EQ(keys(std::string(1, '\0')), std::vector<int>{0});
	EXPECT_EQ(keys("\x7f\r"), (std::vector<int>{0x7f, '\r'}));
}

TEST(KeySequence, CursorAndFunctionKeysAreOneKeyWithoutCharacter)
{
	EXPECT_EQ(keys("\x1bOQ"), std::vector<int>{none});       // F2
	EXPECT_EQ(keys("\x1bOq"), std::vector<int>{none});       // keypad 1
	EXPECT_EQ(keys("\x1b[6~"), std::vector<int>{none});      // Page Down
	EXPECT_EQ(keys("\x1b[A"), std::vector<int>{none});       // Up
	EXPECT_EQ(keys("\x1b[1;2Q"), std::vector<int>{none});    // Shift+F2
	EXPECT_EQ(keys("\x1bO2Q"), std::vector<int>{none});      // Shift+F2
	EXPECT_EQ(keys("\x1b[[B"), std::vector<int>{none});      // Linux F2
	EXPECT_EQ(keys("\x1b[15;5~q"), (std::vector<int>{none, 'q'}));
	EXPECT_EQ(keys("\x1bq"), std::vector<int>{none});        // Alt+q
}

TEST(KeySequence, EscapeKeyAloneAndInterruptedSequences)
{
	EXPECT_EQ(keys("\x1b"), std::vector<int>{0x1b});
	EXPECT_EQ(keys("\x1b\x1bq"), (std::vector<int>{0x1b, none}));
	EXPECT_EQ(keys("\x1b["), std::vector<int>{none});
	EXPECT_EQ(keys("\x1bO"), std::vector<int>{none});
	EXPECT_EQ(keys("\x1b[1\nq"), (std::vector<int>{none, '\n', 'q'}));
	EXPECT_EQ(keys("\x1b\xc3\xa9"), (std::vector<int>{0x1b, 0xe9}));
}

TEST(KeySequence, Utf8CharactersAreOneKeyEach)
{
	EXPECT_EQ(keys("\xc3\xa9q"), (std::vector<int>{0xe9, 'q'}));
	EXPECT_EQ(keys("\xe2\x82\xac"), std::vector<int>{0x20ac});
	EXPECT_EQ(keys("\xf0\x9f\x98\x80"), std::vector<int>{0x1f600});
	EXPECT_EQ(keys("\xe2\x82q"), (std::vector<int>{none, 'q'}));
	EXPECT_EQ(keys("\xc3"), std::vector<int>{none});
	EXPECT_EQ(keys("\xff\x80"), (std::vector<int>{0xff, 0x80}));
}

} // namespace

namespace {

// Key presses wait in order; a full queue drops other keys but never 'q'.
TEST(KeyQueue, KeepsOrderAndNeverLosesTheQuitKey)
{
	key_queue q = {};
	for (int i = 0; i < key_queue_size + 5; i++)
		key_queue_put(&q, 'x' + i % 2);
	EXPECT_FALSE(key_queue_has_quit(&q));
	key_queue_put(&q, 'Q');
	EXPECT_TRUE(key_queue_has_quit(&q));

	std::vector<int> taken;
	for (int code; key_queue_take(&q, &code);)
		taken.push_back(code);
	ASSERT_EQ(taken.size(), std::size_t(key_queue_size));
	EXPECT_EQ(taken[0], 'x');
	EXPECT_EQ(taken[1], 'y');
	EXPECT_EQ(taken.back(), 'Q');
	EXPECT_FALSE(key_queue_has_quit(&q));
}

} // namespace
