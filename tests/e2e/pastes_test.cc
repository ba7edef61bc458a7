// Pastes into the terminal of a shell whose job is msgpoll: marked ones are
// no keys, and in unmarked ones a 'q' quits; the terminal is asked to mark
// them and given back its marks however msgpoll ends; the ways out in the
// middle of a paste; a paste of a megabyte. Nothing of a paste ever runs
// in the shell.
#include "harness.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace e2e {
namespace {

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

// Nothing typed waits to be read on the terminal whose master side is
// master: its foreground job has taken all.
bool all_read(int master)
{
	int slave = open(ptsname(master), O_RDONLY | O_NOCTTY | O_NONBLOCK), waiting = -1;
	if (slave >= 0) {
		ioctl(slave, FIONREAD, &waiting);
		close(slave);
	}
	return waiting == 0;
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
		sh.expect_status(0);
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
		sh.expect_status(c.sig ? 128 + c.sig : 0);
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
			if (c.status == 1) {
				// Once msgpoll has the paste's start, its next read
				// finds the source at its end.
				EXPECT_TRUE(eventually([&] { return all_read(sh.terminal); }));
				close(writer);
			}
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
		sh.expect_status(c.status);
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
	std::string screen = sh.expect_status(0);
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
} // namespace e2e
