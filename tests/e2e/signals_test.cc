// The signals that end msgpoll, on the counting device: at any moment,
// every message handed over is printed whole, and the status names the
// signal; one that comes with a batch in hand waits for it, within its
// cap, unless a second comes, or it is a fault.
#include "harness.h"

#include <csignal>
#include <random>
#include <string>

#include <sys/syscall.h>

namespace e2e {
namespace {

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
// waits for it, and when the reader comes back nothing is lost and msgpoll
// ends once the batch is written; without it msgpoll ends at the cap, about
// a second after the signal; a second signal ends it at once.
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
		// back before the cap of a second: ended by the batch's end
		{"reader back after 500 ms", SIGTERM, 500ms, false, 450ms, 900ms},
		// ended by the cap; beside a loaded machine's delays
		{"reader never back", SIGTERM, 0ms, false, 900ms, 2000ms},
		{"second signal", SIGTERM, 0ms, true, 0ms, 700ms},
		{"SIGALRM, reader back after 500 ms", SIGALRM, 500ms, false, 450ms, 900ms},
		{"SIGALRM, reader never back", SIGALRM, 0ms, false, 900ms, 2000ms},
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
		ASSERT_TRUE(eventually([&] { return waits_in(r.process.pid, call); }));
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
		long took = ms_since(signalled);
		EXPECT_GE(took, c.at_least.count());
		EXPECT_LE(took, c.at_most.count());
		EXPECT_EQ(r.process.status, 128 + c.sig);
		if (!reader.thread.joinable())
			reader.start();
		if (c.reader_back > 0ms) {
			EXPECT_EQ(printed_up_to(reader.all()), long(handed_over(path("log"))));
		}
	}
}

} // namespace
} // namespace e2e
