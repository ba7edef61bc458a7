// The end-to-end harness: what harness.h declares.
#include "harness.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {

bool eventually(const std::function<bool()> &done, milliseconds limit)
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

child::~child()
{
	if (running()) {
		kill(pid, SIGKILL);
		waitpid(pid, nullptr, 0);
	}
}

void child::signal(int sig)
{
	ASSERT_TRUE(running()) << "no child to signal";
	kill(pid, sig);
}

bool child::ended(milliseconds limit)
{
	return eventually(
		[&] {
			int st;
			if (running() && waitpid(pid, &st, WNOHANG) == pid)
				status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
			return !running();
		},
		limit);
}

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

bool has_ended(pid_t pid)
{
	std::vector<std::string> f = stat_fields(pid);
	return f.empty() || f[0] == "Z";
}

bool waits_in(pid_t pid, long call)
{
	std::string now = slurp("/proc/" + std::to_string(pid) + "/syscall");
	return now.rfind(std::to_string(call) + " ", 0) == 0;
}

long child::cpu_ticks_of(pid_t p)
{
	std::vector<std::string> f = stat_fields(p); // utime and stime: 14 and 15
	return f.size() > 12 ? std::stol(f[11]) + std::stol(f[12]) : 0;
}

options opts(std::vector<std::string> args, std::map<std::string, std::string> env)
{
	options o;
	o.args = std::move(args);
	o.env = std::move(env);
	return o;
}

void preload_fault(options &o, const std::string &variable, const std::string &fault)
{
	o.env["LD_PRELOAD"] = WRITE_FAULTS_LIBRARY;
	o.env["ASAN_OPTIONS"] = "verify_asan_link_order=0";
	o.env[variable] = fault;
}

run::~run()
{
	if (terminal >= 0)
		close(terminal);
}

std::string read_until(int fd, const std::string &text, milliseconds limit)
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

void expect_mode(const termios &now, const termios &before)
{
	EXPECT_EQ(now.c_lflag, before.c_lflag) << "terminal mode changed";
	EXPECT_EQ(now.c_cc[VMIN], before.c_cc[VMIN]);
	EXPECT_EQ(now.c_cc[VTIME], before.c_cc[VTIME]);
}

// In the child: msgpoll, or the shell command, in place of this program.
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

void EndToEnd::start(run &r, const options &o, const std::string &name)
{
	// Names of the run's own: no earlier run's file can pass for its.
	std::string base = path(name + std::to_string(++runs));
	r.out_path = base + ".out";
	r.err_path = base + ".err";
	int go[2];
	ASSERT_EQ(pipe(go), 0);
	r.process.pid = o.terminal ? forkpty(&r.terminal, nullptr, nullptr, nullptr) : fork();
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

bool EndToEnd::shows_it_runs(run &r, bool on_terminal)
{
	return eventually([&] { return slurp(r.err_path) == prompt; }) &&
	       (!on_terminal || echo_becomes(r.terminal, false));
}

void EndToEnd::finish(run &r, bool on_terminal)
{
	EXPECT_TRUE(r.process.ended()) << "msgpoll did not end";
	if (!on_terminal)
		return;
	termios after;
	ASSERT_EQ(tcgetattr(r.terminal, &after), 0);
	expect_mode(after, r.mode_before);
}

pipe_reader::pipe_reader()
{
	EXPECT_EQ(pipe(ends), 0);
}

pipe_reader::~pipe_reader()
{
	if (ends[1] >= 0)
		close(ends[1]);
	if (thread.joinable())
		thread.join();
	close(ends[0]);
}

void pipe_reader::start()
{
	thread = std::thread([this] {
		char buf[65536];
		for (ssize_t n; (n = read(ends[0], buf, sizeof buf)) > 0;)
			text.append(buf, std::size_t(n));
	});
}

std::string &pipe_reader::all()
{
	if (thread.joinable())
		thread.join();
	return text;
}

shell::~shell()
{
	if (terminal >= 0)
		close(terminal);
}

void shell::read_screen()
{
	pollfd p = {terminal, POLLIN, 0};
	char buf[4096];
	ssize_t n;
	if (poll(&p, 1, 0) == 1 && (n = read(terminal, buf, sizeof buf)) > 0)
		screen.append(buf, std::size_t(n));
}

void shell::paste(const std::string &text)
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

void shell::leave()
{
	expect_mode(mode(), mode_before);
	say("exit");
	EXPECT_TRUE(process.ended());
}

std::string shell::await(const std::string &text)
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

termios shell::mode() const
{
	termios m{};
	EXPECT_EQ(tcgetattr(terminal, &m), 0);
	return m;
}

pid_t shell::job(const std::string &command, bool background)
{
	say(command + " & echo \"job:$!:\"" + (background ? "" : "; fg >/dev/null"));
	std::string seen = await(":\r\n");
	std::size_t at = seen.rfind("job:");
	return at == std::string::npos ? -1 : std::stoi(seen.substr(at + 4));
}

void shell::signal_job(pid_t pid, int sig)
{
	std::vector<std::string> f = stat_fields(pid);
	ASSERT_TRUE(pid > 1 && process.running() && f.size() > 1 &&
		    std::stoi(f[1]) == process.pid)
		<< pid << " is not the shell's job";
	kill(pid, sig);
}

std::string shell::expect_status(int status)
{
	say("echo \"status:$?\"");
	return await("status:" + std::to_string(status) + "\r");
}

void start_shell(shell &sh, const std::map<std::string, std::string> &env, bool dash)
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

} // namespace e2e
