// The harness of the Windows end-to-end tests: msgpoll.exe started in this
// test's console as options say, keys typed into that console as input
// events, and what a run left in its files and pipes. The files the tests
// make are removed when they are done.
#ifndef MSGPOLL_WIN_E2E_HARNESS_H
#define MSGPOLL_WIN_E2E_HARNESS_H

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace win_e2e {

inline std::string beside_me(const std::string &name)
{
	char path[MAX_PATH];
	DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
	std::string dir(path, n);
	return dir.substr(0, dir.find_last_of("\\/") + 1) + name;
}

// The files the tests make, removed when they are done.
struct file_list : std::set<std::string> {
	~file_list()
	{
		for (const std::string &path : *this)
			DeleteFileA(path.c_str());
	}
};
inline file_list made;

inline std::string temp_file(const std::string &name, const std::string &text = "")
{
	char dir[MAX_PATH];
	GetTempPathA(MAX_PATH, dir);
	std::string path = std::string(dir) + "msgpoll_" + name;
	made.insert(path);
	std::ofstream(path, std::ios::binary) << text;
	return path;
}

inline std::string slurp(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	std::stringstream text;
	text << in.rdbuf();
	return text.str();
}

inline HANDLE inheritable(const std::string &path, DWORD access, DWORD disposition)
{
	SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
	return CreateFileA(path.c_str(), access,
			   FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, disposition,
			   FILE_ATTRIBUTE_NORMAL, nullptr);
}

struct run {
	PROCESS_INFORMATION process{};
	std::string out_path, err_path;
	DWORD status = 999;
};

// How a run is started, beside its arguments; each left out is as here.
struct options {
	std::string fault;       // HARLEN_FAULT; none when empty
	std::string source;      // HARLEN_TRACE_SOURCE; none when empty
	std::string input;       // a file for standard input, or the console's
	DWORD flags = 0;         // CreateProcess's, such as DETACHED_PROCESS
	bool to_console = false; // standard output on the console, or in a file
	HANDLE output = nullptr; // or this handle, closed once msgpoll has it
};

// Starts msgpoll.exe in this console with the given arguments, as o says.
inline run start(const std::string &args, const options &o = {})
{
	static int runs;
	run r;
	r.out_path = temp_file("out" + std::to_string(++runs));
	r.err_path = temp_file("err" + std::to_string(runs));
	auto value = [](const std::string &v) { return v.empty() ? nullptr : v.c_str(); };
	SetEnvironmentVariableA("HARLEN_FAULT", value(o.fault));
	SetEnvironmentVariableA("HARLEN_TRACE_SOURCE", value(o.source));

	STARTUPINFOA si = {};
	si.cb = sizeof si;
	si.dwFlags = STARTF_USESTDHANDLES;
	si.hStdOutput = o.output       ? o.output
			: o.to_console ? inheritable("CONOUT$", GENERIC_READ | GENERIC_WRITE,
						     OPEN_EXISTING)
				       : inheritable(r.out_path, GENERIC_WRITE, CREATE_ALWAYS);
	si.hStdError = inheritable(r.err_path, GENERIC_WRITE, CREATE_ALWAYS);
	si.hStdInput = !o.input.empty() ? inheritable(o.input, GENERIC_READ, OPEN_EXISTING)
					: GetStdHandle(STD_INPUT_HANDLE);
	std::string exe = beside_me("msgpoll.exe");
	std::string line = "msgpoll.exe " + args;
	EXPECT_TRUE(CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, TRUE,
				   o.flags, nullptr, nullptr, &si, &r.process));
	CloseHandle(si.hStdOutput);
	CloseHandle(si.hStdError);
	if (!o.input.empty())
		CloseHandle(si.hStdInput);
	return r;
}

// One key as the console records it: pressed, then released.
struct key {
	wchar_t character;
	WORD virtual_key;
	WORD scan_code;
	DWORD state;
};

const key q = {L'q', 'Q', 0x10, 0}, shifted_q = {L'Q', 'Q', 0x10, SHIFT_PRESSED},
	  x = {L'x', 'X', 0x2d, 0},
	  page_down = {0, VK_NEXT, 0x51, ENHANCED_KEY},
	  f2 = {0, VK_F2, 0x3c, 0}, up = {0, VK_UP, 0x48, ENHANCED_KEY},
	  alt_q = {L'q', 'Q', 0x10, LEFT_ALT_PRESSED}, escape = {0x1b, VK_ESCAPE, 0x01, 0};

inline HANDLE keyboard()
{
	return CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
			   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
			   OPEN_EXISTING, 0, nullptr);
}

inline void type(std::vector<key> keys)
{
	HANDLE console = keyboard();
	ASSERT_NE(console, INVALID_HANDLE_VALUE) << "no console";
	std::vector<INPUT_RECORD> events;
	for (const key &k : keys) {
		for (BOOL down : {TRUE, FALSE}) {
			INPUT_RECORD r = {};
			r.EventType = KEY_EVENT;
			r.Event.KeyEvent.bKeyDown = down;
			r.Event.KeyEvent.wRepeatCount = 1;
			r.Event.KeyEvent.wVirtualKeyCode = k.virtual_key;
			r.Event.KeyEvent.wVirtualScanCode = k.scan_code;
			r.Event.KeyEvent.uChar.UnicodeChar = k.character;
			r.Event.KeyEvent.dwControlKeyState = k.state;
			events.push_back(r);
		}
	}
	DWORD written = 0;
	EXPECT_TRUE(WriteConsoleInputW(console, events.data(), DWORD(events.size()),
				       &written));
	EXPECT_EQ(written, events.size());
	CloseHandle(console);
}

// The console's input events waiting now.
inline DWORD events_waiting()
{
	HANDLE console = keyboard();
	DWORD n = 99;
	EXPECT_TRUE(GetNumberOfConsoleInputEvents(console, &n));
	CloseHandle(console);
	return n;
}

// True when the run ended within ms; its exit status is then in status.
inline bool ended(run &r, DWORD ms)
{
	if (WaitForSingleObject(r.process.hProcess, ms) != WAIT_OBJECT_0)
		return false;
	GetExitCodeProcess(r.process.hProcess, &r.status);
	return true;
}

inline DWORD finish(run &r)
{
	if (!ended(r, 10000)) {
		TerminateProcess(r.process.hProcess, 255);
		ADD_FAILURE() << "msgpoll.exe did not end";
		ended(r, 1000);
	}
	CloseHandle(r.process.hProcess);
	CloseHandle(r.process.hThread);
	HANDLE console = keyboard();
	FlushConsoleInputBuffer(console); // keys left over are not the next run's
	CloseHandle(console);
	return r.status;
}

// Waits, ten seconds at most, until the file at path holds text.
inline bool becomes(const std::string &path, const std::string &text)
{
	for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(5))
		if (slurp(path) == text)
			return true;
	return false;
}

const std::string prompt = "Press 'q' to quit.\r\n\r\n";

// Waits until msgpoll has written its prompt: it runs, its console open.
inline bool shows_prompt(const run &r)
{
	return becomes(r.err_path, prompt);
}

// A pipe of size bytes: ends[0] for this test to read, ends[1] for msgpoll.
inline bool make_pipe(HANDLE ends[2], DWORD size)
{
	SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
	return CreatePipe(&ends[0], &ends[1], &sa, size) &&
	       SetHandleInformation(ends[0], HANDLE_FLAG_INHERIT, 0);
}

// Reads a pipe until it gave most bytes or its writer has gone.
inline std::string read_pipe(HANDLE pipe, std::size_t most = std::string::npos)
{
	std::string text;
	char buffer[65536];
	DWORD n;
	while (text.size() < most &&
	       ReadFile(pipe, buffer, DWORD(std::min(sizeof buffer, most - text.size())), &n,
			nullptr) && n > 0)
		text.append(buffer, n);
	return text;
}

} // namespace win_e2e

#endif
