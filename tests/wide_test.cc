// The two busiest loops, built for every processor and for AVX2, give the
// same records and the same lines, whatever the text.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "cut.h"
#include "plain_lines.h"
#include "poller.h"

namespace {

// Text of lines of 0 to 100 bytes, with now and then a NUL, a CR before
// the line end, or bytes above 127.
std::string random_text(std::mt19937 &random, std::size_t size)
{
	static const char odd[] = {'\0', '\r', '\n', char(0xc3), char(0xa9), 'x'};
	std::string text;
	while (text.size() < size) {
		std::size_t len = random() % 101;
		for (std::size_t i = 0; i < len; i++)
			text += random() % 16 ? char('a' + random() % 26) : odd[random() % 6];
		text += random() % 8 ? "\n" : "\r\n";
	}
	text.resize(size);
	return text;
}

TEST(Wide, BothBuildsCutAndCopyAlike)
{
	if (!wide_usable())
		GTEST_SKIP() << "no AVX2 build, or no AVX2 here";
	std::mt19937 random(620);
	for (int round = 0; round < 300; round++) {
		SCOPED_TRACE(round);
		std::string text = random_text(random, 1 + random() % 20000);
		text.append(HL_RECORD_SIZE, '\0'); // the room a record's copy may read
		std::size_t end = text.size() - HL_RECORD_SIZE;
		static hl_record narrow[HL_BATCH_RECORDS], wide[HL_BATCH_RECORDS], batch[HL_BATCH_RECORDS];
		for (std::size_t start = 0, wide_start = 0; start < end;) {
			std::memset(narrow, 0, sizeof narrow);
			std::memset(wide, 0, sizeof wide);
			uint32_t n = cut_lines(text.data(), &start, end, narrow[0], HL_BATCH_RECORDS);
			uint32_t w = cut_lines_wide(text.data(), &wide_start, end, wide[0],
						    HL_BATCH_RECORDS);
			ASSERT_EQ(n, w);
			ASSERT_EQ(start, wide_start);
			ASSERT_EQ(std::memcmp(narrow, wide, n * sizeof narrow[0]), 0);

			// Those records, and raw text as records with and without a
			// NUL, as msgpoll copies them into lines.
			std::memcpy(batch, narrow, sizeof batch);
			for (std::size_t i = n; i < HL_BATCH_RECORDS; i++)
				std::memcpy(batch[i], text.data() + i % end, HL_RECORD_SIZE);
			static char narrow_lines[batch_text_max], wide_lines[batch_text_max];
			std::size_t a = plain_lines(narrow_lines, batch[0], HL_BATCH_RECORDS);
			std::size_t b = plain_lines_wide(wide_lines, batch[0], HL_BATCH_RECORDS);
			ASSERT_EQ(std::string(narrow_lines, a), std::string(wide_lines, b));
			if (n == 0) // a long line or a NUL: past it, as take_record would
				start = wide_start = std::min(end, start + HL_RECORD_SIZE);
		}
	}
}

} // namespace
