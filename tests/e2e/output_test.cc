// What msgpoll prints and where: the device's lines on the terminal, in a
// file or a pipe, control bytes escaped on the terminal only; every byte of
// a write that does not go through at once; one error line and status 1
// for a device that fails, output that cannot be written and a wrong
// command line; and a reader that leaves, such as head, ending it by
// SIGPIPE.
#include "harness.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace e2e {
namespace {

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

} // namespace
} // namespace e2e
