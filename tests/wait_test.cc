// The pause's wait, as the build chose it and as ppoll makes it, on pipes
// standing in for the keyboard and for standard output.
#include <gtest/gtest.h>

#include <chrono>

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include "wait_posix.h"

namespace {

// What one wait returns; *waited tells whether it took the whole time.
int timed_wait(int (*wait)(int, int, int64_t, const sigset_t *), int keyboard,
	       int out, int64_t ms, bool *waited)
{
	sigset_t none;
	sigemptyset(&none);
	auto start = std::chrono::steady_clock::now();
	int came = wait(keyboard, out, ms, &none);
	*waited = std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(ms);
	return came;
}

TEST(Wait, TellsWhatCameAndWaitsForNothingElse)
{
	for (auto wait : {wait_events, ppoll_events}) {
		SCOPED_TRACE(wait == wait_events ? "as built" : "ppoll");
		int keys[2], out[2], gone[2];
		ASSERT_EQ(pipe2(keys, O_CLOEXEC) | pipe2(out, O_CLOEXEC) | pipe2(gone, O_CLOEXEC), 0);
		bool waited;
		EXPECT_EQ(timed_wait(wait, keys[0], out[1], 30, &waited), 0);
		EXPECT_TRUE(waited) << "time ran out early";

		ASSERT_EQ(write(keys[1], "q", 1), 1);
		EXPECT_EQ(timed_wait(wait, keys[0], out[1], 5000, &waited), wait_key);
		// Keys waiting on a keyboard no longer watched (msgpoll in the
		// background) neither end the wait nor cut it short.
		EXPECT_EQ(timed_wait(wait, -1, out[1], 30, &waited), 0);
		EXPECT_TRUE(waited) << "woken by a keyboard not watched";
		EXPECT_EQ(timed_wait(wait, keys[0], -1, 5000, &waited), wait_key);

		close(gone[1]); // the keyboard's writer gone: a hang-up
		EXPECT_EQ(timed_wait(wait, gone[0], -1, 5000, &waited), wait_key_gone);
		close(out[0]); // the output's reader gone
		EXPECT_EQ(timed_wait(wait, -1, out[1], 5000, &waited), wait_out_gone);
		EXPECT_EQ(timed_wait(wait, -1, -1, 30, &waited), 0);
		EXPECT_TRUE(waited);
		// A signal cuts the wait short, and says so: the pause then
		// looks at the clock instead of taking the time as gone.
		struct sigaction caught = {}, old;
		caught.sa_handler = [](int) {};
		sigaction(SIGALRM, &caught, &old);
		itimerval soon = {{0, 0}, {0, 20000}}, off = {};
		setitimer(ITIMER_REAL, &soon, nullptr);
		EXPECT_EQ(timed_wait(wait, -1, -1, 5000, &waited), wait_cut_short);
		EXPECT_FALSE(waited);
		setitimer(ITIMER_REAL, &off, nullptr);
		sigaction(SIGALRM, &old, nullptr);
		for (int fd : {keys[0], keys[1], out[1], gone[0]})
			close(fd);
	}
}

} // namespace
