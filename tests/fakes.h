// A scripted device library and console, linked into the unit tests in
// place of the real ones. Every call is recorded in calls.
#ifndef MSGPOLL_FAKES_H
#define MSGPOLL_FAKES_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "harlen620.h"

// What one hl_read_trace returns: a status, the records it fills (each
// string's bytes are copied, then a NUL if there is room in 80 bytes) and
// the count it reports (the number of records unless set).
struct fake_read {
	hl_status status = 0;
	std::vector<std::string> records;
	int64_t count = -1;
};

struct fake_script {
	hl_status open_status = 0;
	hl_handle handle_left = nullptr; // what a failed open leaves
	std::vector<fake_read> reads;    // after the last one: status 999
	hl_status close_status = 0;
	std::string typed_before;              // keys waiting at the start
	std::map<int, std::string> typed_after; // keys typed during pause N
	bool out_is_terminal = false;
	int output_gone_at = 0; // pause N finds the output's reader gone
	int wait_fails_at = 0;  // pause N's wait fails
	bool quiet = false; // record no calls (and so allocate nothing)
};

extern fake_script script;
extern std::vector<std::string> calls;
extern hl_handle const fake_handle;

void reset_fakes();

#endif
