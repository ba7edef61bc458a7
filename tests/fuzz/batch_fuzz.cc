// Fuzzes the batch printer with any count and any record bytes, against a
// plain model of what it must print, plain and shown as on a terminal. The
// first four bytes are the count (its top bit, taken off: for a terminal), the rest
// fill the batch (the part the input does not reach is 'A's, with no NUL). The batch is exactly 500 records on
// the heap, so AddressSanitizer sees any read past it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "harlen620.h"
#include "printer.h"

// The length of the UTF-8 sequence at text[i], decoded the long way: the
// code point must need exactly that many bytes, and be no surrogate and
// at most U+10FFFF. 0 when the bytes there form no such sequence.
static std::size_t model_sequence(const std::string &text, std::size_t i)
{
	unsigned char b = static_cast<unsigned char>(text[i]);
	std::size_t n = b < 0x80 ? 1 : b >> 5 == 6 ? 2 : b >> 4 == 14 ? 3 : b >> 3 == 30 ? 4 : 0;
	if (n == 0 || i + n > text.size())
		return 0;
	uint32_t cp = n == 1 ? b : b & (0x7f >> n);
	for (std::size_t k = 1; k < n; k++) {
		unsigned char c = static_cast<unsigned char>(text[i + k]);
		if (c >> 6 != 2)
			return 0;
		cp = cp << 6 | (c & 0x3f);
	}
	const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
	if (cp < least[n] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
		return 0;
	return n;
}

// A terminal's view of a record: control bytes, both bytes of a C1
// control's UTF-8 form, and each byte outside valid UTF-8, as \xHH.
static std::string model_shown(const std::string &text)
{
	std::string shown;
	for (std::size_t i = 0; i < text.size();) {
		std::size_t n = model_sequence(text, i);
		unsigned char b = static_cast<unsigned char>(text[i]);
		uint32_t c1 = n == 2 ? (b & 0x1fu) << 6 | (text[i + 1] & 0x3f) : 0;
		bool show = n == 0 || (n == 1 && ((b < 0x20 && b != '\t') || b == 0x7f)) ||
			    (c1 >= 0x80 && c1 <= 0x9f);
		for (std::size_t k = 0; k < (n ? n : 1); k++) {
			char hex[5];
			std::snprintf(hex, sizeof hex, "\\x%02x",
				      static_cast<unsigned char>(text[i + k]));
			shown += show ? std::string(hex) : std::string(1, text[i + k]);
		}
		i += n ? n : 1;
	}
	return shown;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
	const std::size_t batch_size = HL_BATCH_RECORDS * HL_RECORD_SIZE;
	uint32_t count = 0;
	if (size >= 4) {
		std::memcpy(&count, data, 4);
		data += 4;
		size -= 4;
	}
	bool for_terminal = count >> 31;
	count &= 0x7fffffffu;
	char *batch = new char[batch_size];
	std::memset(batch, 'A', batch_size);
	std::memcpy(batch, data, size < batch_size ? size : batch_size);

	static char text[batch_text_max];
	std::size_t length = batch_lines(text, batch, count, for_terminal);

	// The output is each delivered record's text up to its NUL, at most 80
	// bytes, and a line end; empty records print nothing.
	std::string want;
	for (uint32_t i = 0; i < count && i < HL_BATCH_RECORDS; i++) {
		std::string record(batch + i * HL_RECORD_SIZE, HL_RECORD_SIZE);
		record = record.substr(0, record.find('\0'));
		if (!record.empty())
			want += (for_terminal ? model_shown(record) : record) + "\n";
	}
	if (want != std::string(text, length))
		std::abort();
	delete[] batch;
	return 0;
}
