// msgpoll as its users run it: the built program on the stand-in device,
// keys typed on a pseudo-terminal, output to files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

struct options {
	std::vector<std::string> args;
	std::map<std::string, std::string> env;
	std::string typed_first;  // in the terminal before msgpoll starts
	const char *input = nullptr; // a file for standard input
	bool output_to_terminal = false;
	int output_fd = -1; // standard output, when not a file or the terminal
};

options opts(std::vector<std::string> args,
	     std::map<std::string, std::string> env = {},
	     std::string typed_first = "", const char *input = nullptr)
{
	return {std::move(args), std::move(env), std::move(typed_first), input,
		false, -1};
}

// A msgpoll run on a pseudo-terminal; its standard output and error go to
// files.
struct run {
	pid_t pid = -1;
	int terminal = -1; // the master side
	termios mode_before{};
	std::string out_path, err_path;
	int status = -1;
};

std::string temp_path(const std::string &name)
{
	return ::testing::TempDir() + "e2e_" + name + "_" + std::to_string(getpid());
}

std::string slurp(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	std::stringstream text;
	text << in.rdbuf();
	return text.str();
}

[[noreturn]] void exec_msgpoll(const options &o)
{
	std::vector<char *> argv = {const_cast<char *>(MSGPOLL_PATH)};
	for (const std::string &a : o.args)
		argv.push_back(const_cast<char *>(a.c_str()));
	argv.push_back(nullptr);
	execv(MSGPOLL_PATH, argv.data());
	_exit(127);
}

// Reads the terminal until text appears there: what msgpoll writes to it, or
// the echo of what was typed (then the line discipline holds it).
std::string await_output(int terminal, const std::string &text)
{
	std::string seen;
	auto deadline = std::chrono::steady_clock::now() + 5s;
	while (seen.find(text) == std::string::npos &&
	       std::chrono::steady_clock::now() < deadline) {
		pollfd p = {terminal, POLLIN, 0};
		char buf[64];
		ssize_t n;
		if (poll(&p, 1, 1000) != 1 || (n = read(terminal, buf, sizeof buf)) <= 0)
			break;
		seen.append(buf, std::size_t(n));
	}
	EXPECT_NE(seen.find(text), std::string::npos) << "never saw " << text;
	return seen;
}

run start(const options &o, const std::string &name)
{
	run r;
	r.out_path = temp_path(name + ".out");
	r.err_path = temp_path(name + ".err");
	int go[2];
	EXPECT_EQ(pipe(go), 0);
	r.pid = forkpty(&r.terminal, nullptr, nullptr, nullptr);
	if (r.pid == 0) {
		char byte;
		close(go[1]);
		if (read(go[0], &byte, 1) != 1)
			_exit(125);
		unsetenv("HARLEN_TRACE_SOURCE");
		unsetenv("HARLEN_FAULT");
		for (const auto &e : o.env)
			setenv(e.first.c_str(), e.second.c_str(), 1);
		if (o.output_fd >= 0 && dup2(o.output_fd, 1) != 1)
			_exit(126);
		if ((!o.output_to_terminal && o.output_fd < 0 &&
		     !std::freopen(r.out_path.c_str(), "w", stdout)) ||
		    !std::freopen(r.err_path.c_str(), "w", stderr) ||
		    (o.input && !std::freopen(o.input, "r", stdin)))
			_exit(126);
		exec_msgpoll(o);
	}
	EXPECT_GT(r.pid, 0);
	close(go[0]);
	if (o.output_fd >= 0)
		close(o.output_fd);
	tcgetattr(r.terminal, &r.mode_before);
	if (!o.typed_first.empty()) {
		EXPECT_GT(write(r.terminal, o.typed_first.data(), o.typed_first.size()), 0);
		await_output(r.terminal, o.typed_first);
	}
	EXPECT_EQ(write(go[1], "", 1), 1);
	close(go[1]);
	return r;
}

void type(const run &r, const std::string &keys)
{
	ASSERT_EQ(write(r.terminal, keys.data(), keys.size()), ssize_t(keys.size()));
}

// Waits up to limit for the run to end; true when it did.
bool ended(run &r, std::chrono::milliseconds limit = 5000ms)
{
	auto deadline = std::chrono::steady_clock::now() + limit;
	int st;
	while (r.status < 0 && std::chrono::steady_clock::now() < deadline) {
		pid_t done = waitpid(r.pid, &st, WNOHANG);
		if (done == r.pid) {
			r.status = WIFEXITED(st) ? WEXITSTATUS(st)
						 : 128 + WTERMSIG(st);
			return true;
		}
		std::this_thread::sleep_for(10ms);
	}
	return r.status >= 0;
}

// Waits until the terminal's echo is on or off as wanted; true when it is.
bool echo_becomes(int terminal, bool on)
{
	auto deadline = std::chrono::steady_clock::now() + 5s;
	termios mode;
	while (tcgetattr(terminal, &mode) == 0 && bool(mode.c_lflag & ECHO) != on &&
	       std::chrono::steady_clock::now() < deadline)
		std::this_thread::sleep_for(5ms);
	return bool(mode.c_lflag & ECHO) == on;
}

// Waits until the file at path holds text; true when it does.
bool file_becomes(const std::string &path, const std::string &text)
{
	auto deadline = std::chrono::steady_clock::now() + 5s;
	while (slurp(path) != text && std::chrono::steady_clock::now() < deadline)
		std::this_thread::sleep_for(5ms);
	return slurp(path) == text;
}

// Everything the terminal (or a pipe) showed that was not read yet.
std::string rest_of_screen(int terminal)
{
	std::string seen;
	char buf[256];
	pollfd p = {terminal, POLLIN, 0};
	ssize_t n;
	while (poll(&p, 1, 100) == 1 && (n = read(terminal, buf, sizeof buf)) > 0)
		seen.append(buf, std::size_t(n));
	return seen;
}

void finish(run &r)
{
	if (!ended(r)) {
		kill(r.pid, SIGKILL);
		ended(r);
		ADD_FAILURE() << "msgpoll did not end";
	}
	termios after;
	ASSERT_EQ(tcgetattr(r.terminal, &after), 0);
	EXPECT_EQ(after.c_lflag, r.mode_before.c_lflag) << "terminal mode changed";
	EXPECT_EQ(after.c_cc[VMIN], r.mode_before.c_cc[VMIN]);
	EXPECT_EQ(after.c_cc[VTIME], r.mode_before.c_cc[VTIME]);
	close(r.terminal);
}

std::string trace_file(const std::string &name, const std::string &text)
{
	std::string path = temp_path(name);
	std::ofstream(path, std::ios::binary) << text;
	return path;
}

TEST(EndToEnd, DemoDeviceLinesShowAtOnceOnTheTerminalUntilQ)
{
	options o = opts({"-s", "20"});
	o.output_to_terminal = true;
	run r = start(o, "demo");
	std::string seen = await_output(r.terminal, "\r\n000002 [     0.200] ");
	EXPECT_EQ(seen.substr(0, 20), "000001 [     0.000] ");
	type(r, "q");
	finish(r);
	EXPECT_EQ(r.status, 0);
}

// Shown on the terminal; to a pipe every byte passes as it is.
TEST(EndToEnd, ControlBytesAreShownOnTheTerminalOnly)
{
	const std::string line = "red \x1b[31m\x7f\xc2\x9b\r \xc3\xa9\tend\n";
	std::string source = trace_file("controls", line);
	for (bool to_terminal : {true, false}) {
		options o = opts({"-s", "20"}, {{"HARLEN_TRACE_SOURCE", source}});
		int pipe_ends[2];
		ASSERT_EQ(pipe(pipe_ends), 0);
		o.output_to_terminal = to_terminal;
		o.output_fd = to_terminal ? -1 : pipe_ends[1];
		run r = start(o, "controls");
		if (to_terminal)
			await_output(r.terminal, "red \\x1b[31m\\x7f\\xc2\\x9b\\x0d "
						 "\xc3\xa9\tend\r\n");
		else
			EXPECT_EQ(rest_of_screen(pipe_ends[0]), line);
		type(r, "q");
		finish(r);
		EXPECT_EQ(r.status, 0);
		close(pipe_ends[0]);
		if (to_terminal)
			close(pipe_ends[1]);
	}
}

TEST(EndToEnd, FileLinesPrintInOrderAndEmptyOnesPrintNothing)
{
	std::string long_line(100, 'L');
	std::string source = trace_file("lines.txt", "alpha\n\nbeta\n" + long_line + "\n\ngamma\n");
	run r = start(opts({"-s", "0"}, {{"HARLEN_TRACE_SOURCE", source}}), "lines");
	std::this_thread::sleep_for(300ms);
	type(r, "Q");
	finish(r);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(slurp(r.out_path), "alpha\nbeta\n" + long_line.substr(0, 79) + "\n" +
					     long_line.substr(79) + "\ngamma\n");
}

TEST(EndToEnd, QuitKeyTypedBeforeTheStartEndsBeforeAnyRead)
{
	run r = start(opts({}, {{"HARLEN_FAULT", "read@1=5"}}, "q"), "early");
	finish(r);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(slurp(r.err_path), "Press 'q' to quit.\n\n");
}

TEST(EndToEnd, KeysComeFromTheTerminalNotStandardInput)
{
	std::string input = trace_file("input", "q\nq\n");
	run r = start(opts({"-s", "5"}, {}, "", input.c_str()), "stdin");
	EXPECT_FALSE(ended(r, 300ms));
	type(r, "q");
	finish(r);
	EXPECT_EQ(r.status, 0);
}

TEST(EndToEnd, CursorAndFunctionKeysDoNotQuitAndNoKeyIsEchoed)
{
	run r = start(opts({"-s", "5"}), "fkeys");
	ASSERT_TRUE(echo_becomes(r.terminal, false));
	// F2, Page Down, Up, Alt+q, Linux console F2, Shift+F2
	for (const char *key : {"\x1bOQ", "\x1b[6~", "\x1b[A", "\x1bq", "\x1b[[B",
				"\x1b[1;2Q"}) {
		type(r, key);
		EXPECT_FALSE(ended(r, 100ms)) << key + 1;
	}
	type(r, "xq");
	std::string screen = rest_of_screen(r.terminal);
	for (const char *shown : {"x", "OQ", "[6~", "^[", "q"})
		EXPECT_EQ(screen.find(shown), std::string::npos) << shown;
	finish(r);
	EXPECT_EQ(r.status, 0);
}

// Lines reach a file once their batch is read, and a signal that ends
// msgpoll loses none of them.
TEST(EndToEnd, EachBatchReachesTheFileAtOnce)
{
	std::string source = trace_file("batches", "one\n");
	run r = start(opts({"-s", "100"}, {{"HARLEN_TRACE_SOURCE", source}}), "batches");
	EXPECT_TRUE(file_becomes(r.out_path, "one\n"));
	std::ofstream(source, std::ios::app) << "two\n";
	EXPECT_TRUE(file_becomes(r.out_path, "one\ntwo\n"));
	kill(r.pid, SIGTERM);
	finish(r);
	EXPECT_EQ(r.status, 128 + SIGTERM);
	EXPECT_EQ(slurp(r.out_path), "one\ntwo\n");
}

// 'q' ends a pause of a minute at once, without another read (the planned
// fault would end the run with status 1); 'x' does not shorten one of a
// second.
TEST(EndToEnd, OnlyTheQuitKeyCutsThePauseShort)
{
	std::string source = trace_file("pause", "a\n");
	for (const char *key : {"q", "x"}) {
		bool quits = *key == 'q';
		run r = start(opts({"-s", quits ? "60000" : "1000"},
				   {{"HARLEN_TRACE_SOURCE", source},
				    {"HARLEN_FAULT", "read@2=9"}}),
			      "pause");
		ASSERT_TRUE(file_becomes(r.out_path, "a\n"));
		auto typed = std::chrono::steady_clock::now();
		type(r, key);
		EXPECT_TRUE(ended(r, 5000ms));
		auto took = std::chrono::steady_clock::now() - typed;
		if (quits) {
			EXPECT_LT(took, 1000ms);
			EXPECT_EQ(r.status, 0);
		} else {
			EXPECT_GT(took, 800ms);
			EXPECT_EQ(r.status, 1);
		}
		finish(r);
	}
}

TEST(EndToEnd, DeviceFailuresAreReportedOnceWithStatusOne)
{
	run on_open = start(opts({}, {{"HARLEN_FAULT", "open=21"}}), "open");
	finish(on_open);
	EXPECT_EQ(on_open.status, 1);
	EXPECT_EQ(slurp(on_open.err_path), "hl_open: status 21 (injected fault)\n");

	run on_read = start(opts({"-s", "0"}, {{"HARLEN_FAULT", "read@3=22"}}), "read");
	finish(on_read);
	EXPECT_EQ(on_read.status, 1);
	EXPECT_EQ(slurp(on_read.err_path), "Press 'q' to quit.\n\n"
					   "Could not get trace data from device: "
					   "status 22 (injected fault)\n");

	run on_close = start(opts({}, {{"HARLEN_FAULT", "close=23"}}, "q"), "close");
	finish(on_close);
	EXPECT_EQ(on_close.status, 1);
	EXPECT_EQ(slurp(on_close.err_path), "Press 'q' to quit.\n\n"
					    "hl_close: status 23 (injected fault)\n");
}

TEST(EndToEnd, WrongCommandLinePrintsUsage)
{
	run r = start(opts({"-s"}), "usage");
	finish(r);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(slurp(r.out_path).substr(0, 14), "msgpoll is a c");
	EXPECT_EQ(slurp(r.err_path), "");
}

TEST(EndToEnd, InterruptAndTerminateLeaveTheTerminalInItsMode)
{
	for (int delay_ms : {30, 47, 61, 89}) {
		for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
			run r = start(opts({"-s", "0"}), "interrupt");
			std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
			if (signal == SIGINT)
				type(r, "\x03"); // the interrupt key
			else
				kill(r.pid, signal);
			finish(r);
			EXPECT_EQ(r.status, 128 + signal);
		}
	}
}

// Runs msgpoll without a terminal on a 100 KB trace, standard output on
// out; returns its exit status, 128 + the signal that ended it.
int run_output_to(int out, bool ignore_sigpipe, const std::string &err_path)
{
	static std::string source = trace_file("many", std::string(100000, 'x'));
	pid_t pid = fork();
	if (pid == 0) {
		setsid();
		if (ignore_sigpipe)
			signal(SIGPIPE, SIG_IGN);
		setenv("HARLEN_TRACE_SOURCE", source.c_str(), 1);
		setenv("HARLEN_FAULT", "read@end=1", 1);
		if (dup2(out, 1) != 1 || !std::freopen(err_path.c_str(), "w", stderr))
			_exit(126);
		execl(MSGPOLL_PATH, MSGPOLL_PATH, "-s", "0", (char *)nullptr);
		_exit(127);
	}
	close(out);
	int st;
	waitpid(pid, &st, 0);
	return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

TEST(EndToEnd, FailedWritesAreReportedOnceWithStatusOne)
{
	const std::string err_path = temp_path("write.err");
	const std::string prompt = "Press 'q' to quit.\n\n";

	EXPECT_EQ(run_output_to(open("/dev/full", O_WRONLY), false, err_path), 1);
	EXPECT_EQ(slurp(err_path), prompt + "msgpoll: cannot write to standard "
					    "output: No space left on device\n");

	int pipe_ends[2];
	ASSERT_EQ(pipe(pipe_ends), 0);
	close(pipe_ends[0]);
	EXPECT_EQ(run_output_to(pipe_ends[1], true, err_path), 1);
	EXPECT_EQ(slurp(err_path),
		  prompt + "msgpoll: cannot write to standard output: Broken pipe\n");
}

// Without a terminal, and on one, whose mode then comes back.
TEST(EndToEnd, PipeToHeadEndsByTheSignal)
{
	for (bool on_terminal : {false, true}) {
		int pipe_ends[2];
		ASSERT_EQ(pipe(pipe_ends), 0);
		std::string head_out = temp_path("head.out");
		pid_t head = fork();
		if (head == 0) {
			dup2(pipe_ends[0], 0);
			close(pipe_ends[1]);
			if (!std::freopen(head_out.c_str(), "w", stdout))
				_exit(126);
			execlp("head", "head", "-n", "1", (char *)nullptr);
			_exit(127);
		}
		close(pipe_ends[0]);
		if (on_terminal) {
			std::string source = trace_file("head", std::string(100000, 'x'));
			options o = opts({"-s", "0"}, {{"HARLEN_TRACE_SOURCE", source}});
			o.output_fd = pipe_ends[1];
			run r = start(o, "head");
			finish(r);
			EXPECT_EQ(r.status, 128 + SIGPIPE);
		} else {
			EXPECT_EQ(run_output_to(pipe_ends[1], false, temp_path("head.err")),
				  128 + SIGPIPE);
		}
		waitpid(head, nullptr, 0);
		EXPECT_EQ(slurp(head_out), std::string(79, 'x') + "\n");
	}
}

// Ctrl-Z gives the terminal its mode back, fg takes it again, and 'q'
// still quits.
TEST(EndToEnd, StoppedAndContinuedInAnInteractiveShell)
{
	int terminal;
	pid_t shell = forkpty(&terminal, nullptr, nullptr, nullptr);
	if (shell == 0) {
		unsetenv("HARLEN_TRACE_SOURCE");
		unsetenv("HARLEN_FAULT");
		setenv("PS1", "$ ", 1);
		execl("/bin/bash", "bash", "--norc", "--noprofile", "--noediting",
		      "-i", (char *)nullptr);
		_exit(127);
	}
	termios before;
	await_output(terminal, "$ ");
	ASSERT_EQ(tcgetattr(terminal, &before), 0);
	std::string run = std::string(MSGPOLL_PATH) + " -s 20 >/dev/null\n";
	ASSERT_EQ(write(terminal, run.data(), run.size()), ssize_t(run.size()));
	EXPECT_TRUE(echo_becomes(terminal, false));
	ASSERT_EQ(write(terminal, "\x1a", 1), 1); // Ctrl-Z
	await_output(terminal, "Stopped");
	termios stopped;
	ASSERT_EQ(tcgetattr(terminal, &stopped), 0);
	EXPECT_EQ(stopped.c_lflag, before.c_lflag);
	ASSERT_EQ(write(terminal, "fg\n", 3), 3);
	EXPECT_TRUE(echo_becomes(terminal, false));
	// Typed ahead, the shell's next line is the shell's, not msgpoll's.
	const std::string rest = "qecho \"status:$?\"\n";
	ASSERT_EQ(write(terminal, rest.data(), rest.size()), ssize_t(rest.size()));
	await_output(terminal, "status:0");
	termios after;
	ASSERT_EQ(tcgetattr(terminal, &after), 0);
	EXPECT_EQ(after.c_lflag, before.c_lflag);
	ASSERT_EQ(write(terminal, "exit\n", 5), 5);
	waitpid(shell, nullptr, 0);
	close(terminal);
}

TEST(EndToEnd, BackgroundJobOfAnInteractiveShellKeepsRunning)
{
	std::string out = temp_path("job.out");
	int terminal;
	pid_t shell = forkpty(&terminal, nullptr, nullptr, nullptr);
	if (shell == 0) {
		unsetenv("HARLEN_TRACE_SOURCE");
		setenv("PS1", "$ ", 1);
		execl("/bin/bash", "bash", "--norc", "--noprofile", "-i", (char *)nullptr);
		_exit(127);
	}
	// The 'q' typed while the job runs is not the job's to take.
	std::string job = std::string("HARLEN_FAULT=read@30=9 ") + MSGPOLL_PATH +
			  " -s 10 > " + out + " 2>/dev/null &\n"
			  "wait $!; echo \"status:$?\"; exit\n"
			  "q";
	ASSERT_EQ(write(terminal, job.data(), job.size()), ssize_t(job.size()));
	// 1: ended by the planned read failure; 0: took the 'q'; 148 or more:
	// stopped by the terminal.
	await_output(terminal, "status:1");
	waitpid(shell, nullptr, 0);
	close(terminal);
	EXPECT_EQ(slurp(out).substr(0, 9), "000001 [ ");
}

} // namespace
