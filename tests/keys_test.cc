// The key decoding and queue: a terminal's bytes made keys (cursor and
// function keys, Escape, 8-bit controls, UTF-8), the rest of a key awaited
// and cut short, pastes between marks holding no key, a queue that never
// loses 'q', and which of Windows' key events count.
#include "keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console.h"

namespace {

// The key codes a terminal's bytes make, as console_read_key returns them
// one per call: a byte that ends a key early starts the next one, and a key
// whose bytes stop coming is cut short.
std::vector<int> keys(const std::string &bytes)
{
	std::vector<int> codes;
	key_decoder k = {};
	for (std::size_t i = 0; i < bytes.size(); i++) {
		key_step step = key_feed(&k, static_cast<unsigned char>(bytes[i]));
		if (step == key_more)
			continue;
		codes.push_back(k.code);
		if (step == key_ended)
			i--;
	}
	if (k.stage != 0)
		codes.push_back(key_give_up(&k));
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

// A terminal set to 8-bit controls sends CSI and SS3 as one byte, raw or
// in UTF-8, where others send ESC [ and ESC O: the same keys.
TEST(KeySequence, EightBitControlsBeginSequencesToo)
{
	for (std::string csi : {"\x9b", "\xc2\x9b"}) {
		for (std::string ss3 : {"\x8f", "\xc2\x8f"}) {
			SCOPED_TRACE(csi + ss3);
			EXPECT_EQ(keys(ss3 + "Q"), std::vector<int>{none});         // F2
			EXPECT_EQ(keys(ss3 + "2Qq"), (std::vector<int>{none, 'q'})); // Shift+F2, q
			EXPECT_EQ(keys(csi + "6~"), std::vector<int>{none});        // Page Down
			EXPECT_EQ(keys(csi + "[B"), std::vector<int>{none});        // Linux F2
			EXPECT_EQ(keys(csi + "1;5Q"), std::vector<int>{none});      // Ctrl+F2
			EXPECT_EQ(keys(csi), std::vector<int>{none});
			EXPECT_EQ(keys(csi + "\x1bq"), (std::vector<int>{none, none}));
		}
	}
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

// Reads of a terminal's bytes: when, in milliseconds, and what.
struct read_at {
	int64_t ms;
	std::string bytes;
};

// The keys queued by the reads, as the pause takes them: a key begun is cut
// short once its rest is overdue. Each call starts 10 s after the one
// before, so that nothing of that one is still in play.
std::vector<int> keys_from(const std::vector<read_at> &reads)
{
	static int64_t start;
	start += 10000;
	for (const read_at &r : reads) {
		keys_cut_overdue(start + r.ms);
		keys_decode(reinterpret_cast<const unsigned char *>(r.bytes.data()), r.bytes.size(),
			    start + r.ms);
	}
	keys_cut_overdue(start + 5000);
	std::vector<int> codes;
	while (console_key_waiting())
		codes.push_back(console_read_key());
	return codes;
}

// The rest of a key is awaited rest_of_key_ms from its first byte, however
// many of its bytes come meanwhile; the pause waits for it, sooner or later
// than its own end.
TEST(KeySequence, KeyBegunWaitsForItsRestFromItsFirstByte)
{
	EXPECT_EQ(keys_from({{0, "\x1b"}}), std::vector<int>{0x1b});
	EXPECT_EQ(keys_from({{0, "\x1b["}, {30, "1"}, {49, "5"}, {60, "~q"}}),
		  (std::vector<int>{none, '~', 'q'}));
	EXPECT_EQ(keys_from({{0, "\x1b["}, {49, "15~"}}), std::vector<int>{none});

	const unsigned char escape = 0x1b;
	keys_decode(&escape, 1, 1000);
	EXPECT_EQ(keys_rest_due_or(2000), 1000 + rest_of_key_ms);
	EXPECT_EQ(keys_rest_due_or(1010), 1000 + rest_of_key_ms);
	keys_cut_overdue(1000 + rest_of_key_ms - 1);
	EXPECT_FALSE(console_key_waiting());
	keys_cut_overdue(1000 + rest_of_key_ms);
	EXPECT_EQ(keys_rest_due_or(2000), 2000);
	EXPECT_EQ(console_read_key(), 0x1b);
}

const std::string begins[] = {"\x1b[200~", "\x9b" "200~", "\xc2\x9b" "200~"};
const std::string ends[] = {"\x1b[201~", "\x9b" "201~", "\xc2\x9b" "201~"};

// Pasted text between a terminal's marks holds no key, whatever form the
// marks take (7-bit, 8-bit raw or in UTF-8) and wherever a read cuts them.
TEST(Paste, MarkedTextHoldsNoKeyInEveryFormCutAnywhere)
{
	for (const std::string &begin : begins) {
		for (const std::string &end : ends) {
			std::string paste = begin + "xq Q\x1b" + end;
			for (std::size_t cut = 0; cut <= paste.size(); cut++) {
				SCOPED_TRACE(paste.substr(1, cut));
				EXPECT_EQ(keys_from({{0, paste.substr(0, cut)}, {1, paste.substr(cut)}}),
					  std::vector<int>{});
			}
			EXPECT_EQ(keys_from({{0, paste}, {60, "q"}}), std::vector<int>{'q'});
		}
	}
}

// A paste goes on after its end mark while its bytes keep coming without a
// gap of rest_of_key_ms, so that an end mark in the text ends nothing; one
// whose end never comes is over once nothing came for paste_quiet_ms.
TEST(Paste, EndsAfterItsEndMarkAndAGapOrAfterASecondOfQuiet)
{
	const std::string b = begins[0], e = ends[0];
	const struct {
		std::vector<read_at> reads;
		std::vector<int> keys;
	} cases[] = {
		{{{0, b + "a" + e + "q"}}, {}},
		{{{0, b + "a" + e}, {30, "x"}, {70, "q"}}, {}},
		{{{0, b + "a" + e}, {60, "q"}}, {'q'}},
		{{{0, b + "a"}, {400, "q"}, {800, "q" + e}, {900, "q"}}, {'q'}},
		{{{0, b + "a"}, {900, "q"}, {1899, "q"}}, {}},
		{{{0, b + "a"}, {1000, "q"}}, {'q'}},
		{{{0, b + "aq" + e + b + "bq" + e + b + e + b + e}, {60, "x"}}, {'x'}},
		{{{0, e + "x\x1b[2000~\x1b[1;200~\x1bO200~"}}, {'x', none, none, none}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(testing::PrintToString(c.keys));
		EXPECT_EQ(keys_from(c.reads), c.keys);
		EXPECT_FALSE(keys_in_paste(INT64_MAX - 1));
	}
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

// Only valid UTF-8 makes a character: an overlong 'q' (two and three
// bytes), a surrogate and a code point past U+10FFFF make none, and their
// bytes are keys of their own, none of them 'q'.
TEST(KeySequence, InvalidUtf8MakesNoCharacter)
{
	EXPECT_EQ(keys("\xe0\x81\xb1"), (std::vector<int>{none, 0x81, 0xb1}));
	EXPECT_EQ(keys("\xc1\xb1"), (std::vector<int>{0xc1, 0xb1}));
	EXPECT_EQ(keys("\xed\xa0\x80"), (std::vector<int>{none, 0xa0, 0x80}));
	EXPECT_EQ(keys("\xf4\x90\x80\x80"), (std::vector<int>{none, 0x90, 0x80, 0x80}));
	EXPECT_EQ(keys("\xed\x9f\xbf\xf4\x8f\xbf\xbf"), (std::vector<int>{0xd7ff, 0x10ffff}));
}

// Key presses wait in order; a full queue drops other keys but never 'q',
// and none is taken after a 'q'.
TEST(KeyQueue, KeepsOrderAndNeverLosesTheQuitKey)
{
	for (int i = 0; i < key_queue_size + 5; i++)
		keys_put('x' + i % 2);
	EXPECT_FALSE(keys_have_quit());
	keys_put('Q');
	EXPECT_TRUE(keys_have_quit());

	std::vector<int> taken;
	while (console_key_waiting())
		taken.push_back(console_read_key());
	ASSERT_EQ(taken.size(), std::size_t(key_queue_size));
	EXPECT_EQ(taken[0], 'x');
	EXPECT_EQ(taken[1], 'y');
	EXPECT_EQ(taken.back(), 'Q');
	EXPECT_FALSE(keys_have_quit());

	// After a quit key, nothing is taken.
	for (int code : {'a', 'q', 'b', 'Q'})
		keys_put(code);
	EXPECT_EQ(console_read_key(), 'a');
	EXPECT_EQ(console_read_key(), 'q');
	EXPECT_FALSE(console_key_waiting());
}

// Console input events as Windows records them for real keys.
TEST(KeyEvent, OnlyPressesOfCharacterKeysCount)
{
	const console_event q_down = {true, true, 'q', false};
	const console_event q_up = {true, false, 'q', false};
	// Shift alone, Page Down, F2: pressed, but typing no character
	const console_event no_character = {true, true, 0, false};
	const console_event ctrl_q = {true, true, 0x11, false};
	const console_event alt_q = {true, true, 'q', true};
	const console_event altgr_at = {true, true, '@', false};
	const console_event mouse_or_focus = {false, false, 0, false};
	const console_event euro = {true, true, 0x20ac, false};

	EXPECT_EQ(key_press_code(q_down), 'q');
	EXPECT_EQ(key_press_code(q_up), not_a_key_press);
	EXPECT_EQ(key_press_code(no_character), not_a_key_press);
	EXPECT_EQ(key_press_code(ctrl_q), 0x11);
	EXPECT_EQ(key_press_code(alt_q), key_without_char);
	EXPECT_EQ(key_press_code(altgr_at), '@');
	EXPECT_EQ(key_press_code(mouse_or_focus), not_a_key_press);
	EXPECT_EQ(key_press_code(euro), 0x20ac);
}

} // namespace
