// Fuzzes the command line against a model written apart from the reader:
// arguments are the input split at NUL bytes; the interval's value comes
// from strtoull, limited to 32 bits before a '-' negates it.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cmdline.h"

static uint32_t model_value(const std::string &text)
{
	std::size_t i = text.find_first_not_of(" \t\n\v\f\r");
	if (i == std::string::npos)
		return 0;
	bool negative = text[i] == '-';
	if (text[i] == '+' || text[i] == '-')
		i++;
	if (i == text.size() || text[i] < '0' || text[i] > '9')
		return 0; // strtoull must not skip blanks or a sign of its own here
	errno = 0;
	unsigned long long v = std::strtoull(text.c_str() + i, nullptr, 0);
	if (errno == ERANGE || v > 0xffffffffull)
		v = 0xffffffffull;
	uint32_t magnitude = uint32_t(v);
	return negative ? uint32_t(0x100000000ull - magnitude) : magnitude;
}

static bool model(const std::vector<std::string> &args, uint32_t *sleeplen)
{
	*sleeplen = 200;
	for (std::size_t i = 0; i < args.size(); i += 2) {
		const std::string &a = args[i];
		if (a != "-s" && a != "-S" && a != "/s" && a != "/S")
			return false;
		if (i + 1 == args.size())
			return false;
		*sleeplen = model_value(args[i + 1]);
	}
	return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
	std::vector<std::string> args;
	std::string input(reinterpret_cast<const char *>(data), size);
	for (std::size_t start = 0; start <= size && size > 0;) {
		std::size_t end = input.find('\0', start);
		if (end == std::string::npos)
			end = size;
		args.push_back(input.substr(start, end - start));
		start = end + 1;
	}

	std::vector<const char *> argv = {"msgpoll"};
	for (const std::string &a : args)
		argv.push_back(a.c_str());
	uint32_t got = 12345, want;
	bool accepted = read_command_line(int(argv.size()), argv.data(), &got);
	bool expected = model(args, &want);
	if (accepted != expected || (accepted && got != want))
		std::abort();
	return 0;
}
