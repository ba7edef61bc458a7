// The console layer on Windows (tool/win/keyboard.cc and console.cc), built
// into this test with WaitForSingleObject routed to failing_wait below, and
// run by the poller on a device of the test's own: a quiet one, whose 50th
// read fails.
#include "harlen620.h"
#include "poller.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "stream_text.h"

extern "C" DWORD WINAPI failing_wait(HANDLE, DWORD)
{
	SetLastError(ERROR_INVALID_HANDLE);
	return WAIT_FAILED;
}

static int reads;

extern "C" char *HL_CALL hl_device_name(int, int, char *buffer, int)
{
	return std::strcpy(buffer, "quiet");
}

extern "C" hl_status HL_CALL hl_open(hl_handle *handle, const char *, int)
{
	*handle = &reads;
	return 0;
}

extern "C" hl_status HL_CALL hl_read_trace(hl_handle, char *, uint32_t *count)
{
	*count = 0;
	return ++reads < 50 ? 0 : 9;
}

extern "C" hl_status HL_CALL hl_close(hl_handle)
{
	return 0;
}

extern "C" void HL_CALL hl_report_error(hl_handle, hl_status, const char *) {}

namespace {

// A wait on the console that fails ends the run at once, with one line
// that says so and status 1: no pause passes it off as done.
TEST(WindowsConsole, FailedWaitEndsTheRunWithItsMessage)
{
	HANDLE console = CreateFileW(L"CONIN$", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
				     nullptr, OPEN_EXISTING, 0, nullptr);
	if (console == INVALID_HANDLE_VALUE)
		GTEST_SKIP() << "no console to wait on";
	CloseHandle(console);
	std::FILE *out = std::tmpfile(), *err = std::tmpfile();
	ASSERT_TRUE(out && err);
	EXPECT_EQ(run_poller(10, out, err), 1);
	EXPECT_EQ(reads, 1);
	EXPECT_EQ(contents(err), "Press 'q' to quit.\n\nmsgpoll: cannot wait for the keyboard: " +
					 std::string(std::strerror(EIO)) + "\n");
	std::fclose(out);
}

} // namespace
