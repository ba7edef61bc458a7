// The scripted device library and console of fakes.h.
#include "fakes.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>

#include "console.h"

fake_script script;
std::vector<std::string> calls;
static int device_token;
hl_handle const fake_handle = &device_token;

static std::size_t reads_done;
static bool batch_held;
static int pauses_done;
static std::deque<int> keyboard;
static bool quit_read;

void reset_fakes()
{
	script = fake_script{};
	calls.clear();
	reads_done = 0;
	pauses_done = 0;
	keyboard.clear();
	quit_read = false;
}

static std::string str(const void *p)
{
	return p == nullptr ? "null" : p == fake_handle ? "device" : "other";
}

extern "C" char *HL_CALL hl_device_name(int unit, int kind, char *buffer, int size)
{
	if (!script.quiet)
		calls.push_back("hl_device_name " + std::to_string(unit) + " " +
				std::to_string(kind) + " " + std::to_string(size));
	std::snprintf(buffer, std::size_t(size), "fake%d", unit);
	return buffer + 1; // not the buffer: the poller must pass this on
}

extern "C" hl_status HL_CALL hl_open(hl_handle *handle, const char *name, int access)
{
	if (!script.quiet)
		calls.push_back(std::string("hl_open ") + name + " " +
				std::to_string(access));
	keyboard.assign(script.typed_before.begin(), script.typed_before.end());
	*handle = script.open_status ? script.handle_left : fake_handle;
	return script.open_status;
}

extern "C" hl_status HL_CALL hl_read_trace(hl_handle handle, char *first,
				   uint32_t *count)
{
	if (!script.quiet)
		calls.push_back("hl_read_trace " + str(handle) + " " +
				std::to_string(*count) + (batch_held ? "" : " unheld"));
	if (reads_done == script.reads.size())
		return 999;
	const fake_read &r = script.reads[reads_done++];
	for (std::size_t i = 0; i < r.records.size(); i++) {
		const std::string &text = r.records[i];
		char *record = first + i * HL_RECORD_SIZE;
		std::size_t n = std::min<std::size_t>(text.size(), HL_RECORD_SIZE);
		std::memcpy(record, text.data(), n);
		if (n < HL_RECORD_SIZE)
			record[n] = '\0';
	}
	*count = uint32_t(r.count >= 0 ? r.count : int64_t(r.records.size()));
	return r.status;
}

extern "C" hl_status HL_CALL hl_close(hl_handle handle)
{
	if (!script.quiet)
		calls.push_back("hl_close " + str(handle));
	return script.close_status;
}

extern "C" void HL_CALL hl_report_error(hl_handle handle, hl_status status,
				const char *label)
{
	if (!script.quiet)
		calls.push_back("hl_report_error " + str(handle) + " " +
				std::to_string(status) + " " + label);
}

bool console_key_waiting()
{
	return !keyboard.empty();
}

int console_read_key()
{
	int key = keyboard.front();
	keyboard.pop_front();
	quit_read = quit_read || key == 'q' || key == 'Q';
	if (!script.quiet)
		calls.push_back("key " + std::string(1, char(key)));
	return key;
}

void console_begin_run(std::FILE *)
{
	if (!script.quiet)
		calls.push_back("console open");
}

void console_end_run()
{
	if (!script.quiet)
		calls.push_back(quit_read ? "console close after q" : "console close");
}

void console_begin_batch()
{
	batch_held = true;
}

void console_end_batch()
{
	batch_held = false;
}

bool console_is_terminal(std::FILE *)
{
	return script.out_is_terminal;
}

int console_pause(uint32_t ms, const char **what_failed)
{
	if (!script.quiet)
		calls.push_back("pause " + std::to_string(ms));
	auto typed = script.typed_after.find(++pauses_done);
	if (typed != script.typed_after.end())
		keyboard.insert(keyboard.end(), typed->second.begin(),
				typed->second.end());
	*what_failed = script.output_gone_at == pauses_done ? failed_write : failed_wait;
	if (script.output_gone_at == pauses_done)
		return EPIPE;
	return script.wait_fails_at == pauses_done ? EINVAL : 0;
}
