// The terminal msgpoll runs on: its mode taken and given back exactly, by
// one msgpoll or two at once; a hang-up; and, under an interactive shell,
// stops and continues in the foreground and the background, a kill while
// stopped, a job started in the background and one brought to the
// foreground in a long pause.
#include "harness.h"

#include <csignal>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <sys/syscall.h>
#include <unistd.h>

namespace e2e {
namespace {

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
		sh.expect_status(0);
		sh.leave();
	}
}

// Starts msgpoll as the shell's job and stops it from outside; returns its
// pid.
pid_t stopped_job(shell &sh)
{
	pid_t job = sh.job("\"$M\" -s 200 >/dev/null 2>&1");
	EXPECT_TRUE(echo_becomes(sh.terminal, false));
	sh.signal_job(job, SIGSTOP);
	sh.await("Stopped");
	return job;
}

// Stopped from outside, then continued in the background: it holds no mode
// and reads no key, so a line typed for the next foreground job costs it
// nothing, and a SIGTERM ends it (not stops it).
TEST(Shell, StoppedThenContinuedInTheBackground)
{
	shell sh;
	ASSERT_NO_FATAL_FAILURE(start_shell(sh));
	pid_t job = stopped_job(sh);
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
	EXPECT_TRUE(eventually([&] { return has_ended(job); }));
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
	pid_t job = stopped_job(sh);
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
// 'q' ends it within a second.
TEST(Shell, BroughtToTheForegroundInALongPauseTakesQSoon)
{
	shell sh;
	ASSERT_NO_FATAL_FAILURE(start_shell(sh));
	pid_t job = sh.job("\"$M\" -s 60000 >/dev/null 2>&1", true);
	ASSERT_TRUE(eventually([&] { return waits_in(job, SYS_ppoll); }));
	sh.say("fg");
	sh.await("60000"); // fg names the job
	auto typed = steady::now();
	type(sh.terminal, "q");
	ASSERT_TRUE(eventually([&] { return has_ended(job); }, 5000ms));
	EXPECT_LT(ms_since(typed), 1000);
	sh.await("$ ");
	sh.expect_status(0);
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

} // namespace
} // namespace e2e
