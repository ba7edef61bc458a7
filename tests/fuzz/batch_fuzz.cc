// Fuzzes the batch printer with any count and any record bytes, against a
// plain model of what it must print. The first
// four bytes are the count, the rest fill the batch (the part the input
// does not reach is 'A's, with no NUL). The batch is exactly 500 records on
// the heap, so AddressSanitizer sees any read past it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "harlen620.h"
#include "poller.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
	const std::size_t batch_size = HL_BATCH_RECORDS * HL_RECORD_SIZE;
	uint32_t count = 0;
	if (size >= 4) {
		std::memcpy(&count, data, 4);
		data += 4;
		size -= 4;
	}
	char *batch = new char[batch_size];
	std::memset(batch, 'A', batch_size);
	std::memcpy(batch, data, size < batch_size ? size : batch_size);

	char *text = nullptr;
	std::size_t length = 0;
	std::FILE *out = open_memstream(&text, &length);
	if (print_batch(out, batch, count) != 0)
		std::abort();
	std::fclose(out);

	// The output is each delivered record's text up to its NUL, at most 80
	// bytes, and a line end; empty records print nothing.
	std::string want;
	for (uint32_t i = 0; i < count && i < HL_BATCH_RECORDS; i++) {
		std::string record(batch + i * HL_RECORD_SIZE, HL_RECORD_SIZE);
		record = record.substr(0, record.find('\0'));
		if (!record.empty())
			want += record + "\n";
	}
	if (want != std::string(text, length))
		std::abort();
	std::free(text);
	delete[] batch;
	return 0;
}
