// msgpoll as its users run it: the built program on the stand-in device, or
// on a counting one, keys typed on a pseudo-terminal, output to files and
// pipes.
//
// Signals go only to a positive pid of a child this test started and has
// not reaped, or of a job that such a child, a shell, started and still
// has; every wait is for a condition, bounded for a loaded machine. Each
// test keeps its files in a folder of its own, removed when it passes.
#include <gtest/gtest.h>

#include "test_folder.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/syscall.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using steady = std::chrono::steady_clock;

// The longest any condition is waited for.
const milliseconds patience = 15s;

// Waits until done() holds, at most limit; true when it did.
bool eventually(const std::function<bool()> &done, milliseconds limit = patience)
{
	auto deadline = steady::now() + limit;
	for (;;) {
		if (done())
			return true;
		if (steady::now() >= deadline)
			return false;
		std::this_thread::sleep_for(2ms);
	}
}

// The milliseconds since then.
long ms_since(steady::time_point then)
{
	return long(std::chrono::duration_cast<milliseconds>(steady::now() - then).count());
}

std::string slurp(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	std::stringstream text;
	text << in.rdbuf();
	return text.str();
}

// A process this test started, reaped at most once and killed if still
// there at the end.
struct child {
	pid_t pid = -1;
	int status = -1; // the exit status, or 128 + the signal that ended it

	child() = default;
	child(const child &) = delete;
	child &operator=(const child &) = delete;
	~child()
	{
		if (running()) {
			kill(pid, SIGKILL);
			waitpid(pid, nullptr, 0);
		}
	}
	bool running() const { return pid > 0 && status < 0; }
	void signal(int sig)
	{
		ASSERT_TRUE(running()) << "no child to signal";
		kill(pid, sig);
	}
	// Waits up to limit for the child to end; true when it has.
	bool ended(milliseconds limit = patience)
	{
		return eventually(
			[&] {
				int st;
				if (running() && waitpid(pid, &st, WNOHANG) == pid)
					status = WIFEXITED(st) ? WEXITSTATUS(st)
							       : 128 + WTERMSIG(st);
				return !running();
			},
			limit);
	}
	// Its CPU time so far, user and system, in clock ticks.
	long cpu_ticks() const { return cpu_ticks_of(pid); }
	static long cpu_ticks_of(pid_t p);
};

// The fields of /proc/PID/stat after the command's name: the state first,
// then the parent, ...; none once the process is gone.
std::vector<std::string> stat_fields(pid_t pid)
{
	std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
	std::vector<std::string> fields;
	std::size_t name_end = stat.rfind(')');
	if (name_end == std::string::npos)
		return fields;
	std::istringstream in(stat.substr(name_end + 2));
	for (std::string f; in >> f;)
		fields.push_back(f);
	return fields;
}

// The process has ended: a zombie, or reaped.
bool has_ended(pid_t pid)
{
	std::vector<std::string> f = stat_fields(pid);
	return f.empty() || f[0] == "Z";
}

long child::cpu_ticks_of(pid_t p)
{
	std::vector<std::string> f = stat_fields(p); // utime and stime: 14 and 15
	return f.size() > 12 ? std::stol(f[11]) + std::stol(f[12]) : 0;
}

enum output_to { to_file, to_terminal, to_fd };

struct options {
	std::vector<std::string> args;
	std::map<std::string, std::string> env;
	bool terminal = true;        // on a pseudo-terminal, or with none
	output_to output = to_file;
	int output_fd = -1;          // with to_fd; closed once msgpoll has it
	std::string typed_first;     // in the terminal before msgpoll starts
	std::string input;           // a file for standard input
	std::string library_dir;     // another HARLEN_620 (LD_LIBRARY_PATH)
	std::vector<int> ignored;    // signals ignored by whoever starts it
	std::string shell;           // sh -c this instead; $M is msgpoll
	int vmin = -1, vtime = -1;   // set on the terminal before msgpoll starts
};

options opts(std::vector<std::string> args = {},
	     std::map<std::string, std::string> env = {})
{
	options o;
	o.args = std::move(args);
	o.env = std::move(env);
	return o;
}

// Preloads into msgpoll the library of faults (tests/write_faults.cc), with
// the one that variable names.
void preload_fault(options &o, const std::string &variable, const std::string &fault)
{
	o.env["LD_PRELOAD"] = WRITE_FAULTS_LIBRARY;
	o.env["ASAN_OPTIONS"] = "verify_asan_link_order=0";
	o.env[variable] = fault;
}

struct run {
	child process;
	int terminal = -1; // the master side
	termios mode_before{};
	std::string out_path, err_path;
	~run()
	{
		if (terminal >= 0)
			close(terminal);
	}
};

// Reads the terminal until text appears there, at most limit; returns what
// it read. What msgpoll writes to it, or the echo of what was typed.
std::string read_until(int fd, const std::string &text, milliseconds limit = patience)
{
	std::string seen;
	eventually(
		[&] {
			pollfd p = {fd, POLLIN, 0};
			char buf[512];
			ssize_t n;
			if (poll(&p, 1, 0) == 1 && (n = read(fd, buf, sizeof buf)) > 0)
				seen.append(buf, std::size_t(n));
			return seen.find(text) != std::string::npos;
		},
		limit);
	EXPECT_NE(seen.find(text), std::string::npos)
		<< "never saw " << text << "; saw: " << seen;
	return seen;
}

// Everything the terminal (or a pipe) showed until it was quiet a while.
std::string rest_of_screen(int fd)
{
	std::string seen;
	char buf[512];
	pollfd p = {fd, POLLIN, 0};
	ssize_t n;
	while (poll(&p, 1, 200) == 1 && (n = read(fd, buf, sizeof buf)) > 0)
		seen.append(buf, std::size_t(n));
	return seen;
}

bool echo_becomes(int terminal, bool on)
{
	return eventually([&] {
		termios mode;
		return tcgetattr(terminal, &mode) == 0 && bool(mode.c_lflag & ECHO) == on;
	});
}

void type(int terminal, const std::string &keys)
{
	ASSERT_EQ(write(terminal, keys.data(), keys.size()), ssize_t(keys.size()));
}

const std::string prompt = "Press 'q' to quit.\n\n";
// What msgpoll asks of the terminal when it takes its mode and gives it
// back: to mark pasted text, and no more.
const std::string paste_marks_on = "\x1b[?2004h", paste_marks_off = "\x1b[?2004l";

void expect_mode(const termios &now, const termios &before)
{
	EXPECT_EQ(now.c_lflag, before.c_lflag) << "terminal mode changed";
	EXPECT_EQ(now.c_cc[VMIN], before.c_cc[VMIN]);
	EXPECT_EQ(now.c_cc[VTIME], before.c_cc[VTIME]);
}

class EndToEnd : public TestFolder {
protected:
	EndToEnd() : TestFolder("msgpoll_e2e_") {}

	std::string path(const std::string &name) const { return dir + "/" + name; }

	std::string file(const std::string &name, const std::string &text)
	{
		std::ofstream(path(name), std::ios::binary) << text;
		return path(name);
	}

	// Starts msgpoll as o says; a failure to start is the test's end.
	void start(run &r, const options &o, const std::string &name = "run")
	{
		// Names of the run's own: no earlier run's file can pass for its.
		std::string base = path(name + std::to_string(++runs));
		r.out_path = base + ".out";
		r.err_path = base + ".err";
		int go[2];
		ASSERT_EQ(pipe(go), 0);
		r.process.pid = o.terminal ? forkpty(&r.terminal, nullptr, nullptr, nullptr)
					   : fork();
		if (r.process.pid == 0) {
			char byte;
			close(go[1]);
			if (read(go[0], &byte, 1) != 1)
				_exit(125);
			exec_msgpoll(o, r);
		}
		close(go[0]);
		if (o.output_fd >= 0)
			close(o.output_fd);
		if (r.process.pid < 0)
			close(go[1]);
		ASSERT_GT(r.process.pid, 0) << "could not start msgpoll";
		if (o.terminal) {
			termios m;
			if (o.vmin >= 0 && tcgetattr(r.terminal, &m) == 0) {
				m.c_cc[VMIN] = cc_t(o.vmin);
				m.c_cc[VTIME] = cc_t(o.vtime);
				ASSERT_EQ(tcsetattr(r.terminal, TCSANOW, &m), 0);
			}
			ASSERT_EQ(tcgetattr(r.terminal, &r.mode_before), 0);
			if (!o.typed_first.empty()) {
				type(r.terminal, o.typed_first);
				read_until(r.terminal, o.typed_first);
			}
		}
		ASSERT_EQ(write(go[1], "", 1), 1);
		close(go[1]);
	}

	[[noreturn]] static void exec_msgpoll(const options &o, const run &r)
	{
		if (!o.terminal)
			setsid();
		unsetenv("HARLEN_TRACE_SOURCE");
		unsetenv("HARLEN_FAULT");
		for (const auto &e : o.env)
			setenv(e.first.c_str(), e.second.c_str(), 1);
		if (!o.library_dir.empty())
			setenv("LD_LIBRARY_PATH", o.library_dir.c_str(), 1);
		for (int sig : o.ignored)
			signal(sig, SIG_IGN);
		rlimit no_core = {0, 0};
		setrlimit(RLIMIT_CORE, &no_core); // SIGQUIT dumps none
		if (o.output == to_fd && dup2(o.output_fd, 1) != 1)
			_exit(126);
		if ((o.output == to_file && !std::freopen(r.out_path.c_str(), "w", stdout)) ||
		    !std::freopen(r.err_path.c_str(), "w", stderr) ||
		    (!o.input.empty() && !std::freopen(o.input.c_str(), "r", stdin)) ||
		    (!o.terminal && o.input.empty() && !std::freopen("/dev/null", "r", stdin)))
			_exit(126);
		if (!o.shell.empty()) {
			setenv("M", MSGPOLL_PATH, 1);
			execl("/bin/sh", "sh", "-c", o.shell.c_str(), (char *)nullptr);
			_exit(127);
		}
		std::vector<char *> argv = {const_cast<char *>(MSGPOLL_PATH)};
		for (const std::string &a : o.args)
			argv.push_back(const_cast<char *>(a.c_str()));
		argv.push_back(nullptr);
		execv(MSGPOLL_PATH, argv.data());
		_exit(127);
	}

	// msgpoll has shown that it runs: its prompt is out and, on a
	// terminal, its mode taken.
	static bool shows_it_runs(run &r, bool on_terminal = true)
	{
		return eventually([&] { return slurp(r.err_path) == prompt; }) &&
		       (!on_terminal || echo_becomes(r.terminal, false));
	}

	// Waits for the end, and on a terminal checks that its mode came back.
	static void finish(run &r, bool on_terminal = true)
	{
		EXPECT_TRUE(r.process.ended()) << "msgpoll did not end";
		if (!on_terminal)
			return;
		termios after;
		ASSERT_EQ(tcgetattr(r.terminal, &after), 0);
		expect_mode(after, r.mode_before);
	}

	int runs = 0;
};

TEST_F(EndToEnd, DemoDeviceLinesShowAtOnceOnTheTerminalUntilQ)
{
	run r;
	options o = opts({"-s", "20"});
	o.output = to_terminal;
	ASSERT_NO_FATAL_FAILURE(start(r, o));
	std::string seen = read_until(r.terminal, "\r\n000002 [     0.200] ");
	EXPECT_EQ(seen.substr(0, 28), paste_marks_on + "000001 [     0.000] ");
	type(r.terminal, "q");
	finish(r);
	EXPECT_EQ(r.process.status, 0);
}

// Shown on the terminal; to a pipe every byte passes as it is.
TEST_F(EndToEnd, ControlBytesAndBrokenUtf8AreShownOnTheTerminalOnly)
{
	const std::string line = "red \x1b[31m\x7f\xc2\x9b\r \xc3\xa9\t\x9b\xff end\n";
	std::string source = file("controls", line);
	for (bool to_terminal : {true, false}) {
		SCOPED_TRACE(to_terminal ? "terminal" : "pipe");
		int pipe_ends[2];
		ASSERT_EQ(pipe(pipe_ends), 0);
		options o = opts({"-s", "20"}, {{"HARLEN_TRACE_SOURCE", source}});
		o.output = to_terminal ? output_to(to_terminal) : to_fd;
		o.output_fd = pipe_ends[1];
		run r;
		ASSERT_NO_FATAL_FAILURE(start(r, o));
		if (to_terminal)
			read_until(r.terminal, "red \\x1b[31m\\x7f\\xc2\\x9b\\x0d "
					       "\xc3\xa9\t\\x9b\\xff end\r\n");
		else
			EXPECT_EQ(read_until(pipe_ends[0], "end\n"), line);
		type(r.terminal, "q");
		finish(r);
		EXPECT_EQ(r.process.status, 0);
		close(pipe_ends[0]);
	}
}

TEST_F(EndToEnd, FileLinesPrintInOrderAndEmptyOnesPrintNothing)
{
	std::string long_line(100, 'L');
	std::string source = file("lines.txt", "alpha\n\nbeta\n" + long_line + "\n\ngamma\n");
	run r;
	ASSERT_NO_FATAL_FAILURE(start(r, opts({"-s", "0"}, {{"HARLEN_TRACE_SOURCE", source}})));
	const std::string want = "alpha\nbeta\n" + long_line.substr(0, 79) + "\n" +
				 long_line.substr(79) + "\ngamma\n";
	EXPECT_TRUE(eventually([&] { return slurp(r.out_path) == want; }));
	type(r.terminal, "Q");
	finish(r);
	EXPECT_EQ(r.process.status, 0);
	EXPECT_EQ(slurp(r.out_path), want);
}

TEST_F(EndToEnd, QuitKeyTypedBeforeTheStartEndsBeforeAnyRead)
{
	run r;
	options o = opts({}, {{"HARLEN_FAULT", "read@1=5"}});
	o.typed_first = "q";
	ASSERT_NO_FATAL_FAILURE(start(r, o));
	finish(r);
	EXPECT_EQ(r.process.status, 0);
	EXPECT_EQ(slurp(r.err_path), prompt);
}

// A terminal in canonical mode with echo, VMIN 0 and VTIME 5: msgpoll
// reads keys with VMIN 1 and VTIME 0, and after 'q' the terminal is exactly
// as it was.
TEST_F(EndToEnd, OtherVminAndVtimeComeBackAfterQ)
{
	run r;
	options o = opts({"-s", "20"});
	o.vmin = 0;
	o.vtime = 5;
	ASSERT_NO_FATAL_FAILURE(start(r, o));
	ASSERT_EQ(r.mode_before.c_lflag & (ICANON | ECHO), tcflag_t(ICANON | ECHO));
	ASSERT_EQ(r.mode_before.c_cc[VMIN], 0);
	ASSERT_EQ(r.mode_before.c_cc[VTIME], 5);
	ASSERT_TRUE(shows_it_runs(r));
	termios during;
	ASSERT_EQ(tcgetattr(r.terminal, &during), 0);
	EXPECT_EQ(during.c_cc[VMIN], 1);
	EXPECT_EQ(during.c_cc[VTIME], 0);
	type(r.terminal, "q");
	finish(r);
	EXPECT_EQ(r.process.status, 0);
}

// 'q' and behind it a key every 20 ms for three seconds, as a key held
// down sends: what follows the 'q' is discarded for a second at most.
TEST_F(EndToEnd, InputStreamingInAfterQIsDiscardedForASecondAtMost)
{
	run r;
	ASSERT_NO_FATAL_FAILURE(start(r, opts({"-s", "20"})));
	ASSERT_TRUE(shows_it_runs(r));
	auto typed = steady::now();
	type(r.terminal, "q");
	while (steady::now() - typed < 3s && !r.process.ended(0ms) &&
	       write(r.terminal, "x", 1) == 1)
		std::this_thread::sleep_for(20ms);
	EXPECT_LT(ms_since(typed), 2000);
	finish(r);
	EXPECT_EQ(r.process.status, 0);
}

TEST_F(EndToEnd, KeysComeFromTheTerminalNotStandardInput)
{
	run r;
	options o = opts({"-s", "5"});
	o.input = file("input", "q\nq\n");
	ASSERT_NO_FATAL_FAILURE(start(r, o));
	ASSERT_TRUE(shows_it_runs(r));
	EXPECT_FALSE(r.process.ended(300ms));
	type(r.terminal, "q");
	finish(r);
	EXPECT_EQ(r.process.status, 0);
}

TEST_F(EndToEnd, CursorAndFunctionKeysDoNotQuitAndNoKeyIsEchoed)
{
	run r;
	ASSERT_NO_FATAL_FAILURE(start(r, opts({"-s", "5"})));
	ASSERT_TRUE(shows_it_runs(r));
	// F2, Page Down, Up, Alt+q, Linux console F2, Shift+F2, Alt+q whose
	// second byte comes a little later, as over a slow line, and F2 and
	// Page Down from a terminal set to 8-bit controls, raw and in UTF-8
	for (const char *key : {"\x1bOQ", "\x1b[6~", "\x1b[A", "\x1bq", "\x1b[[B",
				"\x1b[1;2Q", "\x1b|q", "\x8fQ", "\x9b" "6~", "\xc2\x8fQ",
				"\xc2\x9b" "6~"}) {
		SCOPED_TRACE(key + 1);
		std::string k = key;
		std::size_t split = k.find('|');
		type(r.terminal, k.substr(0, split));
		if (split != std::string::npos) {
			std::this_thread::sleep_for(20ms);
			type(r.terminal, k.substr(split + 1));
		}
		EXPECT_FALSE(r.process.ended(100ms));
	}
	type(r.terminal, "xq");
	std::string screen = rest_of_screen(r.terminal);
	for (const char *shown : {"x", "OQ", "[6~", "^[", "q"})
		EXPECT_EQ(screen.find(shown), std::string::npos) << shown;
	finish(r);
	EXPECT_EQ(r.process.status, 0);
}

// 'q' ends a pause of a minute at once, without another read (the planned
// fault would end the run with status 1); with 'x' before it, the 'x' costs
// one more read, and the pause after it is a mere look; 'x' alone does not
// shorten a pause of a second. An Escape is cut at its 50 ms in a pause of
// a minute too, so a 'q' typed 300 ms after it is no Alt+q: it quits.
TEST_F(EndToEnd, OnlyTheQuitKeyCutsThePauseShort)
{
	std::string source = file("pause", "a\n");
	const struct {
		const char *keys, *sleeplen, *fault; // '|': 300 ms between
	} cases[] = {{"q", "60000", "read@2=9"},
		     {"xq", "60000", "read@3=9"},
		     {"x", "1000", "read@2=9"},
		     {"\x1b|q", "60000", "read@3=9"}}; // Escape, cut at its 50 ms
	for (const auto &c : cases) {
		SCOPED_TRACE(c.keys);
		bool quits = c.keys[std::strlen(c.keys) - 1] == 'q';
		run r;
		ASSERT_NO_FATAL_FAILURE(start(r, opts({"-s", c.sleeplen},
						  {{"HARLEN_TRACE_SOURCE", source},
						   {"HARLEN_FAULT", c.fault}})));
		ASSERT_TRUE(eventually([&] { return slurp(r.out_path) == "a\n"; }));
		std::string keys = c.keys;
		if (keys.find('|') != std::string::npos) {
			type(r.terminal, keys.substr(0, keys.find('|')));
			std::this_thread::sleep_for(300ms);
			keys.erase(0, keys.find('|') + 1);
		}
		auto typed = steady::now();
		type(r.terminal, keys);
		EXPECT_TRUE(r.process.ended());
		auto took = steady::now() - typed;
		if (quits) {
			EXPECT_LT(took, 1000ms);
			EXPECT_EQ(r.process.status, 0);
		} else {
			EXPECT_GT(took, 800ms);
			EXPECT_EQ(r.process.status, 1);
		}
		finish(r);
	}
}

// The longest pauses wait as long as they say: no wait of theirs is cut
// short or turned into none, and they cost next to no CPU time.
TEST_F(EndToEnd, LongestPausesWaitAsLongAsTheySay)
{
	for (const char *sleeplen : {"3000000000", "-1"}) {
		SCOPED_TRACE(sleeplen);
		run r;
		ASSERT_NO_FATAL_FAILURE(start(r, opts({"-s", sleeplen}, {{"HARLEN_FAULT", "read@2=9"}})));
		ASSERT_TRUE(shows_it_runs(r));
		long before = r.process.cpu_ticks();
		EXPECT_FALSE(r.process.ended(1000ms));
		EXPECT_LT(r.process.cpu_ticks() - before, 10) << "spins";
		type(r.terminal, "q");
		finish(r);
		EXPECT_EQ(r.process.status, 0);
	}
}

TEST_F(EndToEnd, DeviceFailuresAreReportedOnceWithStatusOne)
{
	const struct {
		const char *fault, *typed, *report;
	} cases[] = {
		{"open=21", "", "hl_open: status 21 (injected fault)\n"},
		{"read@3=22", "", "Press 'q' to quit.\n\nCould not get trace data from "
				  "device: status 22 (injected fault)\n"},
		{"close=23", "q", "Press 'q' to quit.\n\nhl_close: status 23 (injected fault)\n"},
		// read numbers past 32 bits are their own, not wrapped to read 1
		{"read@4294967297=5, read@3=22", "", "Press 'q' to quit.\n\nCould not get trace data "
						     "from device: status 22 (injected fault)\n"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.fault);
		run r;
		options o = opts({"-s", "0"}, {{"HARLEN_FAULT", c.fault}});
		o.typed_first = c.typed;
		ASSERT_NO_FATAL_FAILURE(start(r, o));
		finish(r);
		EXPECT_EQ(r.process.status, 1);
		EXPECT_EQ(slurp(r.err_path), c.report);
	}
}

TEST_F(EndToEnd, WrongCommandLinePrintsUsage)
{
	run r;
	ASSERT_NO_FATAL_FAILURE(start(r, opts({"-s"})));
	finish(r);
	EXPECT_EQ(r.process.status, 1);
	EXPECT_EQ(slurp(r.out_path).substr(0, 14), "msgpoll is a c");
	EXPECT_EQ(slurp(r.err_path), "");
}

// A pipe whose read end a thread of its own reads into text, once started.
struct pipe_reader {
	int ends[2] = {-1, -1};
	std::string text;
	std::thread thread;
	pipe_reader() { EXPECT_EQ(pipe(ends), 0); }
	void start()
	{
		thread = std::thread([this] {
			char buf[65536];
			for (ssize_t n; (n = read(ends[0], buf, sizeof buf)) > 0;)
				text.append(buf, std::size_t(n));
		});
	}
	// All the text, once the writer has gone.
	std::string &all()
	{
		if (thread.joinable())
			thread.join();
		return text;
	}
	// The write end, for msgpoll: start() closes it once msgpoll has it.
	int write_end()
	{
		int fd = ends[1];
		ends[1] = -1;
		return fd;
	}
	~pipe_reader()
	{
		if (ends[1] >= 0)
			close(ends[1]);
		if (thread.joinable())
			thread.join();
		close(ends[0]);
	}
};

// The counting device's last number, from its log; 0 before its first read.
unsigned long handed_over(const std::string &log)
{
	std::string text = slurp(log);
	std::size_t line = text.rfind('\n', text.size() > 1 ? text.size() - 2 : 0);
	line = line == std::string::npos ? 0 : line + 1;
	return text.empty() ? 0 : std::stoul(text.substr(line));
}

// The printed lines are "seq 1" up to "seq N", whole: returns N, or
// -1 at the first line that breaks the rule.
long printed_up_to(const std::string &out)
{
	long n = 0;
	std::size_t at = 0;
	while (at < out.size()) {
		std::size_t end = out.find('\n', at);
		if (end == std::string::npos ||
		    out.compare(at, end - at, "seq " + std::to_string(n + 1)) != 0)
			return -1;
		n++;
		at = end + 1;
	}
	return n;
}

class CountingDevice : public EndToEnd {
protected:
	options counting(const std::string &interval = "0", const std::string &log = "")
	{
		options o = opts({"-s", interval},
				 {{"COUNTING_DEVICE_LOG", log.empty() ? path("log") : log}});
		o.library_dir = COUNTING_DEVICE_DIR;
		return o;
	}
};

// Ended at random moments while the device hands over full batches at
// -s 0: every message handed over is printed, whole, and the status names
// the signal; on a terminal its mode comes back.
TEST_F(CountingDevice, KilledAtRandomLosesNothing)
{
	std::mt19937 random(std::random_device{}());
	for (bool on_terminal : {false, true}) {
		for (bool to_pipe : {false, true}) {
			for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGRTMIN}) {
				for (int round = 0; round < 3; round++) {
					unsigned delay_us = unsigned(random() % 20000);
					SCOPED_TRACE(std::string(on_terminal ? "terminal" : "no terminal") +
						     (to_pipe ? ", pipe" : ", file") + ", signal " +
						     std::to_string(sig) + " after " +
						     std::to_string(delay_us) + " us");
					std::string log = path("log" + std::to_string(runs));
					options o = counting("0", log);
					o.terminal = on_terminal;
					pipe_reader reader;
					if (to_pipe) {
						reader.start();
						o.output = to_fd;
						o.output_fd = reader.write_end();
					}
					run r;
					ASSERT_NO_FATAL_FAILURE(start(r, o));
					ASSERT_TRUE(shows_it_runs(r, on_terminal));
					ASSERT_TRUE(eventually([&] {
						return handed_over(log) > 0;
					}));
					std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
					if (on_terminal && sig == SIGINT)
						type(r.terminal, "\x03");
					else if (on_terminal && sig == SIGQUIT)
						type(r.terminal, "\x1c");
					else
						r.process.signal(sig);
					finish(r, on_terminal);
					EXPECT_EQ(r.process.status, 128 + sig);
					std::string out = to_pipe ? reader.all() : slurp(r.out_path);
					EXPECT_EQ(printed_up_to(out), long(handed_over(log)));
				}
			}
		}
	}
}

// A reader that stalls with a batch waiting to be written: a SIGTERM then
// waits for it, and nothing is lost when the reader comes back; without
// it msgpoll ends within about a second; a second signal ends it at once.
// Either way msgpoll ends by the first signal. A SIGALRM sent from outside
// is such a signal too, apart from the one that caps the wait. A fault
// (SIGSEGV) ends it at once, as does any signal without a batch in hand.
TEST_F(CountingDevice, SignalWaitsForTheBatchInHandWithinItsCap)
{
	const struct {
		const char *name;
		int sig;
		milliseconds reader_back; // after the signal; 0: never
		bool second_signal;
		milliseconds at_least, at_most; // from the first signal to the end
		bool in_pause = false;
	} cases[] = {
		{"reader back after 500 ms", SIGTERM, 500ms, false, 450ms, 5000ms},
		{"reader never back", SIGTERM, 0ms, false, 900ms, 5000ms},
		{"second signal", SIGTERM, 0ms, true, 0ms, 700ms},
		{"SIGALRM, reader back after 500 ms", SIGALRM, 500ms, false, 450ms, 5000ms},
		{"SIGALRM, reader never back", SIGALRM, 0ms, false, 900ms, 5000ms},
		{"a fault", SIGSEGV, 0ms, false, 0ms, 700ms},
		{"no batch in hand: in a long pause", SIGTERM, 0ms, false, 0ms, 500ms, true},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		options o = counting(c.in_pause ? "60000" : "0");
		o.terminal = false;
		pipe_reader reader;
		o.output = to_fd;
		o.output_fd = reader.write_end();
		run r;
		ASSERT_NO_FATAL_FAILURE(start(r, o));
		// The pipe is full: msgpoll waits in the write of a batch. Or it
		// is read, and msgpoll waits in its pause.
		if (c.in_pause)
			reader.start();
		long call = c.in_pause ? SYS_ppoll : SYS_write;
		std::string syscall = "/proc/" + std::to_string(r.process.pid) + "/syscall";
		ASSERT_TRUE(eventually([&] {
			return slurp(syscall).rfind(std::to_string(call) + " ", 0) == 0;
		}));
		auto signalled = steady::now();
		r.process.signal(c.sig);
		if (c.second_signal) {
			EXPECT_FALSE(r.process.ended(100ms));
			signalled = steady::now();
			r.process.signal(SIGINT);
		}
		if (c.reader_back > 0ms) {
			EXPECT_FALSE(r.process.ended(c.reader_back));
			reader.start();
		}
		EXPECT_TRUE(r.process.ended());
		auto took = steady::now() - signalled;
		EXPECT_GE(took, c.at_least);
		EXPECT_LE(took, c.at_most);
		EXPECT_EQ(r.process.status, 128 + c.sig);
		if (!reader.thread.joinable())
			reader.start();
		if (c.reader_back > 0ms) {
			EXPECT_EQ(printed_up_to(reader.all()), long(handed_over(path("log"))));
		}
	}
}

// Standard output that cannot take the lines, and the usage text that
// cannot be written: one error line, status 1. A write that takes nothing
// (a library preloaded into msgpoll makes each one so) is a failure too,
// not a reason to write again.
TEST_F(EndToEnd, FailedWritesAreReportedOnceWithStatusOne)
{
	const std::string trace = file("many", std::string(100000, 'x'));
	const struct {
		const char *name;
		std::vector<std::string> args;
		bool full; // /dev/full, or a pipe nobody reads, SIGPIPE ignored
		std::string err;
		bool takes_nothing = false;
	} cases[] = {
		{"full disk", {"-s", "0"}, true,
		 prompt + "msgpoll: cannot write to standard output: No space left on device\n"},
		{"reader gone", {"-s", "0"}, false,
		 prompt + "msgpoll: cannot write to standard output: Broken pipe\n"},
		{"usage", {"-x"}, true,
		 "msgpoll: cannot write to standard output: No space left on device\n"},
		{"write of nothing", {"-s", "0"}, true,
		 prompt + "msgpoll: cannot write to standard output: Input/output error\n", true},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		options o = opts(c.args, {{"HARLEN_TRACE_SOURCE", trace}, {"HARLEN_FAULT", "read@end=1"}});
		if (c.takes_nothing)
			preload_fault(o, "MSGPOLL_TEST_WRITE", "zero");
		o.terminal = false;
		o.output = to_fd;
		o.ignored = {SIGPIPE};
		int ends[2] = {-1, -1};
		if (c.full) {
			o.output_fd = open("/dev/full", O_WRONLY);
		} else {
			ASSERT_EQ(pipe(ends), 0);
			close(ends[0]);
			o.output_fd = ends[1];
		}
		run r;
		ASSERT_NO_FATAL_FAILURE(start(r, o));
		finish(r, false);
		EXPECT_EQ(r.process.status, 1);
		EXPECT_EQ(slurp(r.err_path), c.err);
	}
}

// Writes that do not go through at once: one interrupted before it wrote a
// byte (a library preloaded into msgpoll makes the first so), or to a pipe
// that another program set non-blocking, whose reader comes a second late.
// msgpoll waits for room without burning CPU, and every byte arrives.
TEST_F(EndToEnd, InterruptedAndNonBlockingWritesLoseNothing)
{
	std::string lines;
	for (int i = 1; i <= 20000; i++)
		lines += "line " + std::to_string(i) + "\n";
	const std::string trace = file("lines", lines);
	for (bool non_blocking : {false, true}) {
		SCOPED_TRACE(non_blocking ? "non-blocking pipe" : "interrupted write");
		options o = opts({"-s", "0"}, {{"HARLEN_TRACE_SOURCE", trace},
					       {"HARLEN_FAULT", "read@end=1"}});
		o.terminal = false;
		pipe_reader reader;
		if (non_blocking)
			ASSERT_EQ(fcntl(reader.ends[1], F_SETFL, O_NONBLOCK), 0);
		else
			preload_fault(o, "MSGPOLL_TEST_WRITE", "eintr_once");
		o.output = to_fd;
		o.output_fd = reader.write_end();
		run r;
		ASSERT_NO_FATAL_FAILURE(start(r, o));
		if (non_blocking) {
			long before = r.process.cpu_ticks();
			EXPECT_FALSE(r.process.ended(1000ms));
			EXPECT_LT(r.process.cpu_ticks() - before, 10) << "spins";
		}
		reader.start();
		finish(r, false);
		EXPECT_EQ(r.process.status, 1);
		EXPECT_EQ(slurp(r.err_path), prompt + "Could not get trace data from device: "
						      "status 1 (injected fault)\n");
		EXPECT_TRUE(reader.all() == lines)
			<< reader.all().size() << " of " << lines.size() << " bytes";
	}
}

// A wait of the pause that fails (a library preloaded into msgpoll makes
// every one after the third fail with EINVAL) is reported once, and msgpoll
// ends at once with status 1, the terminal's mode put back.
TEST_F(EndToEnd, FailedWaitIsReportedOnceWithStatusOne)
{
	run r;
	options o = opts({"-s", "20"});
	preload_fault(o, "MSGPOLL_TEST_PPOLL", "einval_after_3");
	ASSERT_NO_FATAL_FAILURE(start(r, o));
	ASSERT_TRUE(eventually([&] { return has_ended(r.process.pid); }, 5000ms))
		<< "still running after 5 s, " << r.process.cpu_ticks()
		<< " CPU ticks; standard error: " << slurp(r.err_path);
	EXPECT_LT(r.process.cpu_ticks(), 30) << "spins";
	finish(r);
	EXPECT_EQ(r.process.status, 1);
	EXPECT_EQ(slurp(r.err_path),
		  prompt + "msgpoll: cannot wait for the keyboard: Invalid argument\n");
}

// A reader that leaves ends msgpoll by SIGPIPE, with and without a
// terminal (whose mode then comes back), while the device is busy and
// while it is quiet and nothing is written.
TEST_F(EndToEnd, PipeToHeadEndsByTheSignal)
{
	const std::string busy = file("busy", std::string(100000, 'x'));
	const std::string quiet = file("quiet", "only\n");
	for (bool on_terminal : {false, true}) {
		for (const std::string &source : {busy, quiet}) {
			SCOPED_TRACE(std::string(on_terminal ? "terminal, " : "") + source);
			int ends[2];
			ASSERT_EQ(pipe(ends), 0);
			child head;
			head.pid = fork();
			if (head.pid == 0) {
				dup2(ends[0], 0);
				close(ends[1]);
				if (!std::freopen(path("head.out").c_str(), "w", stdout))
					_exit(126);
				execlp("head", "head", "-n", "1", (char *)nullptr);
				_exit(127);
			}
			close(ends[0]);
			options o = opts({"-s", source == busy ? "0" : "200"}, {{"HARLEN_TRACE_SOURCE", source}});
			o.terminal = on_terminal;
			o.output = to_fd;
			o.output_fd = ends[1];
			run r;
			ASSERT_NO_FATAL_FAILURE(start(r, o));
			finish(r, on_terminal);
			EXPECT_EQ(r.process.status, 128 + SIGPIPE);
			EXPECT_TRUE(head.ended());
			EXPECT_EQ(slurp(path("head.out")),
				  source == busy ? std::string(79, 'x') + "\n" : "only\n");
		}
	}
}

// With SIGHUP ignored (nohup), a terminal that hangs up is given up: msgpoll
// goes on printing, costs next to no CPU, and still ends by a signal.
TEST_F(EndToEnd, TerminalHungUpWithSighupIgnoredIsGivenUp)
{
	run r;
	options o = opts({"-s", "20"});
	o.ignored = {SIGHUP};
	ASSERT_NO_FATAL_FAILURE(start(r, o));
	ASSERT_TRUE(shows_it_runs(r));
	close(r.terminal);
	r.terminal = -1;
	long before = r.process.cpu_ticks();
	std::size_t printed = slurp(r.out_path).size();
	EXPECT_FALSE(r.process.ended(1000ms));
	EXPECT_LT(r.process.cpu_ticks() - before, 10) << "spins";
	EXPECT_GT(slurp(r.out_path).size(), printed);
	r.process.signal(SIGTERM);
	EXPECT_TRUE(r.process.ended());
	EXPECT_EQ(r.process.status, 128 + SIGTERM);
}

// A cycle in the terminal's foreground makes one system call of its own,
// the pause's wait (ppoll), which
// is also the key check, and the batch's write when there is one. Counted
// under strace over a few cycles, on the demo driver, which makes none, and
// on a quiet file, where the stand-in seeks to its end once a cycle to
// learn its size and reads nothing.
TEST_F(EndToEnd, CycleMakesOneSystemCallBesideItsWrite)
{
	if (system("strace -V >/dev/null 2>&1") != 0)
		GTEST_SKIP() << "no strace here";
	std::string quiet = path("quiet");
	std::fclose(std::fopen(quiet.c_str(), "w"));
	auto is_wait = [](const std::string &name) { return name == "ppoll"; };
	for (std::string source : {std::string(), quiet}) {
		SCOPED_TRACE("source " + source);
		std::string calls_file = path(source.empty() ? "demo.calls" : "quiet.calls");
		run r;
		options o = opts({}, {{"HARLEN_TRACE_SOURCE", source}});
		o.shell = "exec strace -qq -o " + calls_file + " \"$M\" -s 50";
		ASSERT_NO_FATAL_FAILURE(start(r, o));
		ASSERT_TRUE(shows_it_runs(r));
		auto calls = [&] {
			std::vector<std::string> names;
			std::istringstream lines(slurp(calls_file));
			for (std::string line; std::getline(lines, line);)
				names.push_back(line.substr(0, line.find('(')));
			return names;
		};
		ASSERT_TRUE(eventually([&] {
			auto names = calls();
			return std::count_if(names.begin(), names.end(), is_wait) >= 12;
		}));
		type(r.terminal, "q");
		finish(r);
		// From the second wait to the last, which saw the 'q'.
		auto names = calls();
		auto first = std::find_if(names.begin(), names.end(), is_wait) + 1;
		first = std::find_if(first, names.end(), is_wait);
		auto last = std::find_if(names.rbegin(), names.rend(), is_wait).base() - 1;
		ASSERT_LT(first, last);
		long cycles = std::count_if(first, last, is_wait);
		long writes = std::count(first, last, "write");
		long looks = std::count(first, last, "lseek");
		if (source.empty()) {
			EXPECT_GT(writes, 0);
			EXPECT_LE(writes, cycles);
		} else {
			EXPECT_EQ(writes, 0);
			EXPECT_EQ(looks, cycles);
		}
		EXPECT_EQ(last - first, cycles + writes + looks) << "other calls in the cycle";
	}
}

// At -s 0 the pause is still made: each cycle makes its wait, of no time.
// Here without a terminal, to a file, over the 299 cycles before a planned
// read failure, beside the look for keys typed before the start.
TEST_F(EndToEnd, ZeroIntervalStillWaitsEachCycle)
{
	if (system("strace -V >/dev/null 2>&1") != 0)
		GTEST_SKIP() << "no strace here";
	std::string calls_file = path("calls");
	run r;
	options o = opts({}, {{"HARLEN_FAULT", "read@300=9"}});
	o.terminal = false;
	o.shell = "exec strace -qq -e trace=ppoll -o " + calls_file + " \"$M\" -s 0";
	ASSERT_NO_FATAL_FAILURE(start(r, o));
	finish(r, false);
	EXPECT_EQ(r.process.status, 1);
	std::istringstream lines(slurp(calls_file));
	long waits = 0;
	for (std::string line; std::getline(lines, line);)
		waits += line.rfind("ppoll(", 0) == 0 &&
			 line.find("{tv_sec=0, tv_nsec=0}") != std::string::npos;
	EXPECT_EQ(waits, 1 + 299);
}

// Two msgpolls in one foreground group: each changes only what it found
// unchanged and puts back only that, so the terminal ends as it began.
TEST_F(EndToEnd, TwoAtOnceLeaveTheTerminalAsItWas)
{
	run r;
	options o = opts();
	o.shell = "\"$M\" >/dev/null 2>" + path("a.err") + " & \"$M\" >/dev/null 2>" +
		  path("b.err") + "; wait";
	ASSERT_NO_FATAL_FAILURE(start(r, o));
	ASSERT_TRUE(eventually([&] {
		return slurp(path("a.err")) == prompt && slurp(path("b.err")) == prompt;
	}));
	ASSERT_TRUE(echo_becomes(r.terminal, false));
	std::string children = "/proc/" + std::to_string(r.process.pid) + "/task/" +
			       std::to_string(r.process.pid) + "/children";
	type(r.terminal, "q");
	// One has quit; the other may now be in the mode the first found.
	EXPECT_TRUE(eventually([&] {
		std::istringstream pids(slurp(children));
		return std::distance(std::istream_iterator<std::string>(pids),
				     std::istream_iterator<std::string>()) == 1;
	}));
	type(r.terminal, "q\n");
	finish(r);
	EXPECT_EQ(r.process.status, 0);
}

// An interactive shell on a pseudo-terminal, whose jobs are msgpolls.
struct shell {
	child process;
	int terminal = -1;
	termios mode_before{};
	std::string screen;   // all it showed
	std::size_t read_to = 0; // the end of what await found so far
	~shell()
	{
		if (terminal >= 0)
			close(terminal);
	}
	void say(const std::string &line) { type(terminal, line + "\n"); }
	// Adds what the terminal shows now, if anything, to screen.
	void read_screen()
	{
		pollfd p = {terminal, POLLIN, 0};
		char buf[4096];
		ssize_t n;
		if (poll(&p, 1, 0) == 1 && (n = read(terminal, buf, sizeof buf)) > 0)
			screen.append(buf, std::size_t(n));
	}
	// Types text, however long, while it reads what the terminal shows,
	// so that a shell that runs what it gets never waits on this test,
	// nor this test on it.
	void paste(const std::string &text)
	{
		int flags = fcntl(terminal, F_GETFL);
		fcntl(terminal, F_SETFL, flags | O_NONBLOCK);
		std::size_t at = 0;
		eventually([&] {
			read_screen();
			ssize_t n = write(terminal, text.data() + at, text.size() - at);
			if (n > 0)
				at += std::size_t(n);
			return at == text.size();
		});
		fcntl(terminal, F_SETFL, flags);
		EXPECT_EQ(at, text.size()) << "the terminal took no more";
	}
	// The terminal has the mode it had at the start, and the shell ends.
	void leave()
	{
		expect_mode(mode(), mode_before);
		say("exit");
		EXPECT_TRUE(process.ended());
	}
	// Waits until text shows after what was awaited before; returns what
	// showed since then.
	std::string await(const std::string &text)
	{
		std::size_t from = read_to, at = std::string::npos;
		eventually([&] {
			read_screen();
			return (at = screen.find(text, from)) != std::string::npos;
		});
		EXPECT_NE(at, std::string::npos)
			<< "never saw " << text << "; saw: " << screen.substr(from);
		read_to = at == std::string::npos ? screen.size() : at + text.size();
		return screen.substr(from, read_to - from);
	}
	termios mode() const
	{
		termios m{};
		EXPECT_EQ(tcgetattr(terminal, &m), 0);
		return m;
	}
	// Starts msgpoll (with its arguments) as a job, brought to the
	// foreground once the shell has told its pid (unless left in the
	// background); returns that.
	pid_t job(const std::string &command, bool background = false)
	{
		say(command + " & echo \"job:$!:\"" + (background ? "" : "; fg >/dev/null"));
		std::string seen = await(":\r\n");
		std::size_t at = seen.rfind("job:");
		return at == std::string::npos ? -1 : std::stoi(seen.substr(at + 4));
	}
	// Signals the shell's job pid, once sure it is the shell's own child.
	void signal_job(pid_t pid, int sig)
	{
		std::vector<std::string> f = stat_fields(pid);
		ASSERT_TRUE(pid > 1 && process.running() && f.size() > 1 &&
			    std::stoi(f[1]) == process.pid)
			<< pid << " is not the shell's job";
		kill(pid, sig);
	}
};

// bash, or dash: a shell that leaves the terminal's mode as a stopped job
// left it.
void start_shell(shell &sh, const std::map<std::string, std::string> &env = {},
		 bool dash = false)
{
	sh.process.pid = forkpty(&sh.terminal, nullptr, nullptr, nullptr);
	if (sh.process.pid == 0) {
		unsetenv("HARLEN_TRACE_SOURCE");
		unsetenv("HARLEN_FAULT");
		for (const auto &e : env)
			setenv(e.first.c_str(), e.second.c_str(), 1);
		setenv("PS1", "$ ", 1);
		setenv("M", MSGPOLL_PATH, 1);
		unsetenv("ENV");
		rlimit no_core = {0, 0};
		setrlimit(RLIMIT_CORE, &no_core); // SIGQUIT and SIGSEGV dump none
		if (dash)
			execl("/bin/dash", "dash", "-i", (char *)nullptr);
		else
			execl("/bin/bash", "bash", "--norc", "--noprofile", "--noediting",
			      "-i", (char *)nullptr);
		_exit(127);
	}
	ASSERT_GT(sh.process.pid, 0) << "could not start a shell";
	sh.await("$ ");
	sh.mode_before = sh.mode();
}

// Stopped twice, by Ctrl-Z or by SIGSTOP from outside, and brought back
// each time with fg: stopped by Ctrl-Z, msgpoll has put the mode back, its
// VMIN 0 and VTIME 5 included (dash leaves it as it finds it); back, it has
// taken its own again even where the shell reset the mode at the stop
// (bash): no echo, and 'q' quits without Enter.
TEST(Shell, StoppedAndContinuedInTheForeground)
{
	for (bool ctrl_z : {true, false}) {
		SCOPED_TRACE(ctrl_z ? "Ctrl-Z in dash" : "SIGSTOP in bash");
		shell sh;
		ASSERT_NO_FATAL_FAILURE(start_shell(sh, {}, ctrl_z));
		sh.say("stty min 0 time 5");
		sh.await("$ ");
		sh.mode_before = sh.mode();
		ASSERT_EQ(sh.mode_before.c_cc[VTIME], 5);
		pid_t job = sh.job("\"$M\" -s 20 >/dev/null 2>&1");
		for (int round = 0; round < 2; round++) {
			ASSERT_TRUE(echo_becomes(sh.terminal, false));
			if (ctrl_z)
				type(sh.terminal, "\x1a");
			else
				sh.signal_job(job, SIGSTOP);
			sh.await("Stopped");
			sh.await("$ ");
			if (ctrl_z)
				expect_mode(sh.mode(), sh.mode_before);
			sh.say("fg >/dev/null");
		}
		ASSERT_TRUE(echo_becomes(sh.terminal, false));
		type(sh.terminal, "q");
		sh.await("$ ");
		sh.say("echo \"status:$?\"");
		sh.await("status:0");
		sh.leave();
	}
}

// Stopped from outside, then continued in the background: it holds no mode
// and reads no key, so a line typed for the next foreground job costs it
// nothing, and a SIGTERM ends it (not stops it).
TEST(Shell, StoppedThenContinuedInTheBackground)
{
	shell sh;
	ASSERT_NO_FATAL_FAILURE(start_shell(sh));
	pid_t job = sh.job("\"$M\" -s 200 >/dev/null 2>&1");
	ASSERT_TRUE(echo_becomes(sh.terminal, false));
	sh.signal_job(job, SIGSTOP);
	sh.await("Stopped");
	sh.say("bg");
	sh.await("&");
	// A line typed while sleep runs waits, complete, in the terminal for
	// the shell.
	sh.say("echo \"up\"; sleep 1; echo \"slept\"");
	sh.await("up\r\n");
	sh.say("true");
	long before = child::cpu_ticks_of(job);
	sh.await("slept");
	EXPECT_LT(child::cpu_ticks_of(job) - before, 10) << "spins";
	sh.signal_job(job, SIGTERM);
	// Ended (a zombie, or reaped), so that the shell tells at its next
	// prompt.
	EXPECT_TRUE(eventually([&] {
		std::vector<std::string> f = stat_fields(job);
		return f.empty() || f[0] == "Z";
	}));
	sh.say("");
	sh.await("Terminated");
	sh.leave();
}

// Stopped from outside, msgpoll leaves the terminal to bash, which puts its
// own mode back; there the user turns echo off, and kills msgpoll from the
// prompt: the mode stays as the user set it (msgpoll is not in the
// foreground, so it puts back nothing, discards nothing, asks nothing).
TEST(Shell, KilledWhileStoppedLeavesThePromptsModeAlone)
{
	shell sh;
	ASSERT_NO_FATAL_FAILURE(start_shell(sh));
	pid_t job = sh.job("\"$M\" -s 200 >/dev/null 2>&1");
	ASSERT_TRUE(echo_becomes(sh.terminal, false));
	sh.signal_job(job, SIGSTOP);
	sh.await("Stopped");
	sh.await("$ ");
	sh.say("stty -echo");
	sh.await("$ ");
	termios set = sh.mode();
	ASSERT_FALSE(set.c_lflag & ECHO);
	std::size_t stopped = sh.read_to;
	// A line typed while msgpoll ends is the shell's: msgpoll flushes
	// nothing, nor writes to the terminal, as the marks' end.
	sh.say("kill %1; sleep 0.3");
	sh.say("echo \"typed:\"\"ahead\"");
	sh.await("typed:ahead");
	sh.await("$ ");
	EXPECT_TRUE(eventually([&] { return has_ended(job); }));
	EXPECT_EQ(sh.screen.find(paste_marks_off, stopped), std::string::npos);
	expect_mode(sh.mode(), set);
	sh.say("stty echo");
	sh.await("$ ");
	sh.leave();
}

// Started in the background with a pause of a minute, and brought to the
// foreground in that pause: it looks for the foreground often enough that
// 'q' ends it within about a second.
TEST(Shell, BroughtToTheForegroundInALongPauseTakesQSoon)
{
	shell sh;
	ASSERT_NO_FATAL_FAILURE(start_shell(sh));
	pid_t job = sh.job("\"$M\" -s 60000 >/dev/null 2>&1", true);
	std::string syscall = "/proc/" + std::to_string(job) + "/syscall";
	ASSERT_TRUE(eventually([&] {
		return slurp(syscall).rfind(std::to_string(SYS_ppoll) + " ", 0) == 0;
	}));
	sh.say("fg");
	sh.await("60000"); // fg names the job
	auto typed = steady::now();
	type(sh.terminal, "q");
	ASSERT_TRUE(eventually([&] { return has_ended(job); }, 5000ms));
	EXPECT_LT(ms_since(typed), 1500);
	sh.await("$ ");
	sh.say("echo \"status:$?\"");
	sh.await("status:0");
	sh.leave();
}

// Started in the background, msgpoll takes no key: the 'q' typed while it
// runs is the shell's (had msgpoll read the terminal, SIGTTIN would have
// stopped it).
TEST(Shell, BackgroundJobKeepsRunningAndTakesNoKey)
{
	shell sh;
	ASSERT_NO_FATAL_FAILURE(start_shell(sh));
	sh.say("HARLEN_FAULT=read@30=9 \"$M\" -s 10 >/dev/null 2>&1 &");
	sh.say("wait $!; echo \"status:$?\"; exit");
	sh.say("q"); // a whole line: the shell's cooked mode lets it be read
	// 1: ended by the planned read failure; 0: took the 'q'; 148 or
	// more: stopped by the terminal.
	sh.await("status:1");
	EXPECT_TRUE(sh.process.ended());
}

// A paste, as a terminal writes it: pieces, each after a pause.
struct piece {
	milliseconds after;
	std::string text;
};

// Pasted lines, bytes long at least, each with a 'q'.
std::string pasted(std::size_t bytes)
{
	std::string text;
	while (text.size() < bytes)
		text += "echo INJECTED q\r";
	return text;
}

// text cut into pieces of size bytes, each after a pause of gap; with
// marked, each piece between a terminal's marks of its own.
std::vector<piece> cut_up(const std::string &text, std::size_t size, milliseconds gap,
			  bool marked = false)
{
	std::vector<piece> pieces;
	for (std::size_t at = 0; at < text.size(); at += size) {
		std::string t = text.substr(at, size);
		pieces.push_back({gap, marked ? "\x1b[200~" + t + "\x1b[201~" : t});
	}
	return pieces;
}

// Pastes while msgpoll runs: marked ones are no keys, however they come,
// and msgpoll keeps running until a 'q' typed after them (one whose end
// never came: after a second of quiet). In unmarked ones a 'q' quits, and
// the rest of the paste is discarded. Either way nothing of a paste shows
// or reaches the shell.
TEST(Shell, PastesNeverReachTheShell)
{
	const std::string b = "\x1b[200~", e = "\x1b[201~";
	std::vector<piece> marked_pieces = cut_up(pasted(65536), 4000, 0ms, true);
	marked_pieces.push_back({0ms, b + e + b + e});
	std::mt19937 random(std::random_device{}());
	std::vector<piece> uneven = cut_up(pasted(65536), 1640, 0ms);
	for (piece &p : uneven)
		p.after = milliseconds(5 + random() % 16);
	uneven.insert(uneven.begin(), {0ms, "q"});
	const struct {
		const char *name;
		std::vector<piece> paste;
		milliseconds quiet; // then 'q' is typed; 0: the paste quits
	} cases[] = {
		{"marked, at once", {{0ms, b + pasted(65536) + e}}, 300ms},
		{"marked, in pieces 400 ms apart",
		 {{0ms, b + pasted(100)}, {400ms, pasted(100)}, {400ms, pasted(100) + e}}, 300ms},
		{"many marked pieces, one after another", marked_pieces, 300ms},
		{"an end mark in the text", {{0ms, b + pasted(100) + e + "q\r" + pasted(100) + e}}, 300ms},
		{"marked, its end never comes", {{0ms, b + pasted(100)}}, 1100ms},
		{"unmarked, at once", {{0ms, "x q" + pasted(65536)}}, 0ms},
		{"unmarked, 5-20 ms apart", uneven, 0ms},
		{"unmarked, 128 bytes at a time as xterm writes it", cut_up("x q" + pasted(65536), 128, 0ms), 0ms},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		shell sh;
		ASSERT_NO_FATAL_FAILURE(start_shell(sh));
		pid_t job = sh.job("\"$M\" -s 200 >/dev/null 2>&1");
		sh.await(paste_marks_on);
		ASSERT_TRUE(echo_becomes(sh.terminal, false));
		for (const piece &p : c.paste) {
			std::this_thread::sleep_for(p.after);
			sh.paste(p.text);
		}
		if (c.quiet > 0ms) {
			EXPECT_FALSE(eventually([&] { return has_ended(job); }, c.quiet))
				<< "quit in a paste";
			type(sh.terminal, "q");
		}
		sh.await(paste_marks_off);
		sh.await("$ ");
		sh.say("echo \"status:$?\"");
		sh.await("status:0");
		EXPECT_EQ(sh.screen.find("INJECTED"), std::string::npos) << sh.screen;
		sh.leave();
	}
}

// msgpoll asks the terminal to mark pastes each time it takes the mode,
// also where it finds the terminal in its own mode already, and for no more
// marks each time it gives it back: after 'q', at Ctrl-Z and again after
// fg, and at every signal that ends it, which its exit status names.
TEST(Shell, PasteMarksAskedForAndGivenBack)
{
	const struct {
		std::string way;
		int sig; // the signal sent; 0: the way is a key
		std::string set_first = "";
	} cases[] = {
		{"q", 0},
		{"q, started in msgpoll's own mode", 0, "stty -icanon -echo min 1 time 0"},
		{"Ctrl-Z", 0},
		{"SIGTERM", SIGTERM},
		{"SIGUSR1", SIGUSR1},
		{"a real-time signal", SIGRTMIN + 1},
		{"SIGALRM from outside", SIGALRM},
		{"SIGSEGV from outside", SIGSEGV},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.way);
		shell sh;
		ASSERT_NO_FATAL_FAILURE(start_shell(sh));
		if (!c.set_first.empty()) {
			sh.say(c.set_first);
			sh.await("$ ");
			sh.mode_before = sh.mode();
		}
		pid_t job = sh.job("\"$M\" -s 200 >/dev/null 2>&1");
		sh.await(paste_marks_on);
		if (c.way == "Ctrl-Z") {
			type(sh.terminal, "\x1a");
			sh.await(paste_marks_off);
			sh.await("Stopped");
			sh.say("fg >/dev/null");
			sh.await(paste_marks_on);
		}
		ASSERT_TRUE(echo_becomes(sh.terminal, false));
		if (c.sig)
			sh.signal_job(job, c.sig);
		else
			type(sh.terminal, "q");
		sh.await(paste_marks_off);
		sh.await("$ ");
		sh.say("echo \"status:$?\"");
		sh.await("status:" + std::to_string(c.sig ? 128 + c.sig : 0) + "\r");
		EXPECT_EQ(sh.screen.find(paste_marks_on, sh.read_to), std::string::npos);
		sh.leave();
	}
}

// The ways out in the middle of a paste, which xterm and st pass on with
// the terminal's signal keys in it between the marks: Ctrl-C and Ctrl-\ end
// msgpoll by their signals, Ctrl-Z stops it, a device that fails ends it
// with status 1. The rest of the paste, which keeps coming in pieces after
// it, never runs in the shell. Typed alone, Ctrl-C ends msgpoll at once,
// and a line typed 300 ms later is the shell's.
TEST_F(EndToEnd, WaysOutOfAPasteLeaveNothingOfItToRun)
{
	const struct {
		const char *name;
		std::string key; // in the paste's first piece
		int status;      // 0: stopped, then 'q'
		bool pasted = true;
	} cases[] = {
		{"Ctrl-C", "\x03", 128 + SIGINT},
		{"Ctrl-\\", "\x1c", 128 + SIGQUIT},
		{"Ctrl-Z", "\x1a", 0},
		{"the device fails", "", 1},
		{"Ctrl-C typed alone", "\x03", 128 + SIGINT, false},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		shell sh;
		ASSERT_NO_FATAL_FAILURE(start_shell(sh));
		// The device's source: a FIFO whose one writer is this test.
		std::string fifo = path("fifo" + std::to_string(++runs));
		ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
		int writer = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
		pid_t job = sh.job("HARLEN_TRACE_SOURCE=" + fifo + " HARLEN_FAULT=read@end=9 \"$M\" -s 200 >/dev/null 2>&1");
		sh.await(paste_marks_on);
		ASSERT_TRUE(echo_becomes(sh.terminal, false));
		auto typed = steady::now();
		if (c.pasted) {
			sh.paste("\x1b[200~x" + c.key + "echo INJECTED\r");
			if (c.status == 1)
				close(writer); // the next read finds the source at its end
			for (const piece &p : cut_up(pasted(2000), 128, 20ms)) {
				std::this_thread::sleep_for(p.after);
				sh.paste(p.text);
			}
			sh.paste("\x1b[201~");
		} else {
			type(sh.terminal, c.key);
			EXPECT_TRUE(eventually([&] { return has_ended(job); }, 1000ms));
			EXPECT_LT(ms_since(typed), 300);
		}
		sh.await(paste_marks_off);
		if (c.status == 0) {
			sh.await("Stopped");
			sh.await("$ ");
			sh.say("fg >/dev/null");
			ASSERT_TRUE(echo_becomes(sh.terminal, false));
			type(sh.terminal, "q");
		}
		sh.await("$ ");
		std::this_thread::sleep_until(typed + 300ms);
		sh.say("echo \"status:$?\"");
		sh.await("status:" + std::to_string(c.status) + "\r");
		EXPECT_EQ(sh.screen.find("INJECTED"), std::string::npos) << sh.screen;
		sh.leave();
		if (c.status != 1)
			close(writer);
	}
}

// A paste of a megabyte: the reads keep their pace, little CPU goes, the
// 'q' in one of its last lines still quits, and nothing of it reaches the
// shell.
TEST_F(CountingDevice, LargePasteKeepsThePaceAndNeverReachesTheShell)
{
	shell sh;
	ASSERT_NO_FATAL_FAILURE(start_shell(sh, {{"LD_LIBRARY_PATH", COUNTING_DEVICE_DIR},
						 {"COUNTING_DEVICE_LOG", path("log")},
						 {"COUNTING_DEVICE_BATCH", "1"}}));
	pid_t job = sh.job("\"$M\" -s 200 >" + path("out") + " 2>/dev/null");
	ASSERT_TRUE(echo_becomes(sh.terminal, false));
	long before = child::cpu_ticks_of(job);
	type(sh.terminal, std::string(1 << 20, 'x'));
	EXPECT_LT(child::cpu_ticks_of(job) - before, 50) << "CPU ticks for a paste";
	// Its last lines: after the 'q', more than one read of the terminal
	// takes at once.
	std::string tail = "\nrequest queued\n";
	for (int i = 0; i < 400; i++)
		tail += "echo INJECTED\n";
	type(sh.terminal, tail);
	sh.await("$ ");
	sh.say("echo \"status:$?\"");
	std::string screen = sh.await("status:0");
	EXPECT_EQ(screen.find("not found"), std::string::npos) << screen;
	EXPECT_EQ(screen.find("\nINJECTED"), std::string::npos) << screen;

	std::istringstream reads(slurp(path("log")));
	long n, at, last = -1, longest = 0;
	while (reads >> n >> at) {
		if (last >= 0)
			longest = std::max(longest, at - last);
		last = at;
	}
	EXPECT_LT(longest, 200 + 250) << "ms between two reads";
	sh.leave();
}

} // namespace
