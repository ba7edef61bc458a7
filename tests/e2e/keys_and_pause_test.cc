// The keys and the pause: 'q' quits, whenever it is typed, and what
// streams in after it is discarded for a second at most; other keys, and
// standard input, never quit, nor does anything typed show; only 'q' cuts
// a pause short, the longest pauses wait as long as they say, and a wait
// that fails ends msgpoll. A cycle's system calls, counted under strace:
// one wait, at -s 0 too, beside the batch's write.
#include "harness.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace e2e {
namespace {

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

// 'q' and behind it a key every 20 ms for three seconds, as a key held
// down sends: what follows the 'q' is discarded as long as it comes, for a
// second at most. What came in that second is not left on the terminal,
// which this test holds open to see what msgpoll left there.
TEST_F(EndToEnd, InputStreamingInAfterQIsDiscardedForASecondAtMost)
{
	run r;
	ASSERT_NO_FATAL_FAILURE(start(r, opts({"-s", "20"})));
	ASSERT_TRUE(shows_it_runs(r));
	int keyboard = open(ptsname(r.terminal), O_RDONLY | O_NOCTTY | O_NONBLOCK);
	ASSERT_GE(keyboard, 0);
	auto typed = steady::now();
	type(r.terminal, "q");
	long late = 0; // typed 950 ms after the 'q' or later: maybe after the discard
	while (steady::now() - typed < 3s && !r.process.ended(0ms) &&
	       write(r.terminal, "x", 1) == 1) {
		late += ms_since(typed) >= 950;
		std::this_thread::sleep_for(20ms);
	}
	long took = ms_since(typed);
	EXPECT_GE(took, 950) << "the discard stopped while keys came";
	EXPECT_LT(took, 1300);
	finish(r);
	EXPECT_EQ(r.process.status, 0);
	type(r.terminal, "\n"); // the line of what was left, in the mode put back
	std::string left = read_until(keyboard, "\n");
	close(keyboard);
	EXPECT_LE(long(left.size()) - 1, late) << "left on the terminal: " << left;
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

} // namespace
} // namespace e2e
