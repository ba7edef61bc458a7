#include "keyevent.h"

#include <gtest/gtest.h>

#include "console.h"

namespace {

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
