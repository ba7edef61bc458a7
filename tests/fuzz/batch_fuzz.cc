// Fuzzes the batch printer with any count and any record bytes, against a
// plain model of what it must print, plain and shown as on a terminal. The
// first four bytes are the count (its top bit, taken off: shown), the rest
// fill the batch (the part the input does not reach is 'A's, with no NUL). The batch is exactly 500 records on
// the heap, so AddressSanitizer sees any read past it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "harlen620.h"
#include "poller.h"

// A terminal's view of a record: control bytes, and both bytes of a C1
// control's UTF-8 form, as \xHH.
static std::string model_shown(const std::string &text)
{
	std::string shown;
	for (std::size_t i = 0; i < text.size(); i++) {
		unsigned char b = static_cast<unsigned char>(text[i]);
		bool c1 = b == 0xc2 && i + 1 < text.size() &&
			  static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
			  static_cast<unsigned char>(text[i + 1]) < 0xa0;
		int bytes = c1 ? 2 : (b < 0x20 && b != '\t') || b == 0x7f ? 1 : 0;
		if (bytes == 0)
			shown += char(b);
		for (int k = 0; k < bytes; k++) {
			char hex[5];
			std::snprintf(hex, sizeof hex, "\\x%02x",
				      static_cast<unsigned char>(text[i + std::size_t(k)]));
			shown += hex;
		}
		i += std::size_t(bytes > 1);
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
	bool shown = count >> 31;
	count &= 0x7fffffffu;
	char *batch = new char[batch_size];
	std::memset(batch, 'A', batch_size);
	std::memcpy(batch, data, size < batch_size ? size : batch_size);

	char *text = nullptr;
	std::size_t length = 0;
	std::FILE *out = open_memstream(&text, &length);
	if (print_batch(out, batch, count, shown) != 0)
		std::abort();
	std::fclose(out);

	// The output is each delivered record's text up to its NUL, at most 80
	// bytes, and a line end; empty records print nothing.
	std::string want;
	for (uint32_t i = 0; i < count && i < HL_BATCH_RECORDS; i++) {
		std::string record(batch + i * HL_RECORD_SIZE, HL_RECORD_SIZE);
		record = record.substr(0, record.find('\0'));
		if (!record.empty())
			want += (shown ? model_shown(record) : record) + "\n";
	}
	if (want != std::string(text, length))
		std::abort();
	std::free(text);
	delete[] batch;
	return 0;
}
