// The harness of the end-to-end tests: msgpoll started as a child, on a
// pseudo-terminal or with none, with its output to a file, the terminal or
// a pipe; or an interactive shell on a pseudo-terminal whose jobs are
// msgpolls.
//
// Signals go only to a positive pid of a child a test started and has not
// reaped, or of a job that such a child, a shell, started and still has;
// every wait is for a condition, bounded for a loaded machine. Each test
// keeps its files in a folder of its own, removed when it passes.
#ifndef MSGPOLL_E2E_HARNESS_H
#define MSGPOLL_E2E_HARNESS_H

#include <gtest/gtest.h>

#include "../test_folder.h"

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>
#include <termios.h>

namespace e2e {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using steady = std::chrono::steady_clock;

// The longest any condition is waited for.
const milliseconds patience = 15s;

// Waits until done() holds, at most limit; true when it did.
bool eventually(const std::function<bool()> &done, milliseconds limit = patience);

// The milliseconds since then.
long ms_since(steady::time_point then);

std::string slurp(const std::string &path);

// A process this test started, reaped at most once and killed if still
// there at the end.
struct child {
	pid_t pid = -1;
	int status = -1; // the exit status, or 128 + the signal that ended it

	child() = default;
	child(const child &) = delete;
	child &operator=(const child &) = delete;
	~child();
	bool running() const { return pid > 0 && status < 0; }
	void signal(int sig);
	// Waits up to limit for the child to end; true when it has.
	bool ended(milliseconds limit = patience);
	// Its CPU time so far, user and system, in clock ticks.
	long cpu_ticks() const { return cpu_ticks_of(pid); }
	static long cpu_ticks_of(pid_t p);
};

// The fields of /proc/PID/stat after the command's name: the state first,
// then the parent, ...; none once the process is gone.
std::vector<std::string> stat_fields(pid_t pid);

// The process has ended: a zombie, or reaped.
bool has_ended(pid_t pid);

// The process waits in the system call numbered call.
bool waits_in(pid_t pid, long call);

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
	     std::map<std::string, std::string> env = {});

// Preloads into msgpoll the library of faults (tests/write_faults.cc), with
// the one that variable names.
void preload_fault(options &o, const std::string &variable, const std::string &fault);

struct run {
	child process;
	int terminal = -1; // the master side
	termios mode_before{};
	std::string out_path, err_path;
	~run();
};

// Reads the terminal until text appears there, at most limit; returns what
// it read. What msgpoll writes to it, or the echo of what was typed.
std::string read_until(int fd, const std::string &text, milliseconds limit = patience);

bool echo_becomes(int terminal, bool on);

void type(int terminal, const std::string &keys);

const std::string prompt = "Press 'q' to quit.\n\n";
// What msgpoll asks of the terminal when it takes its mode and gives it
// back: to mark pasted text, and no more.
const std::string paste_marks_on = "\x1b[?2004h", paste_marks_off = "\x1b[?2004l";

void expect_mode(const termios &now, const termios &before);

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
	void start(run &r, const options &o, const std::string &name = "run");

	// msgpoll has shown that it runs: its prompt is out and, on a
	// terminal, its mode taken.
	static bool shows_it_runs(run &r, bool on_terminal = true);

	// Waits for the end, and on a terminal checks that its mode came back.
	static void finish(run &r, bool on_terminal = true);

	int runs = 0;
};

// msgpoll on the counting device (tests/counting_device.cc), which numbers
// its messages and logs what it handed over.
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

// A pipe whose read end a thread of its own reads into text, once started.
struct pipe_reader {
	int ends[2] = {-1, -1};
	std::string text;
	std::thread thread;
	pipe_reader();
	~pipe_reader();
	void start();
	// All the text, once the writer has gone.
	std::string &all();
	// The write end, for msgpoll: start() closes it once msgpoll has it.
	int write_end()
	{
		int fd = ends[1];
		ends[1] = -1;
		return fd;
	}
};

// An interactive shell on a pseudo-terminal, whose jobs are msgpolls.
struct shell {
	child process;
	int terminal = -1;
	termios mode_before{};
	std::string screen;   // all it showed
	std::size_t read_to = 0; // the end of what await found so far
	~shell();
	void say(const std::string &line) { type(terminal, line + "\n"); }
	// Adds what the terminal shows now, if anything, to screen.
	void read_screen();
	// Types text, however long, while it reads what the terminal shows,
	// so that a shell that runs what it gets never waits on this test,
	// nor this test on it.
	void paste(const std::string &text);
	// The terminal has the mode it had at the start, and the shell ends.
	void leave();
	// Waits until text shows after what was awaited before; returns what
	// showed since then.
	std::string await(const std::string &text);
	termios mode() const;
	// Starts msgpoll (with its arguments) as a job, brought to the
	// foreground once the shell has told its pid (unless left in the
	// background); returns that.
	pid_t job(const std::string &command, bool background = false);
	// Signals the shell's job pid, once sure it is the shell's own child.
	void signal_job(pid_t pid, int sig);
	// Asks the shell for the last job's exit status, and waits until it
	// shows as status; returns what showed since the last await.
	std::string expect_status(int status);
};

// bash, or dash: a shell that leaves the terminal's mode as a stopped job
// left it.
void start_shell(shell &sh, const std::map<std::string, std::string> &env = {},
		 bool dash = false);

} // namespace e2e

#endif
