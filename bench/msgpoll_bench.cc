// How fast msgpoll prints, how it keeps up with a busy device, and what it
// costs while the device is quiet.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harlen620.h"
#include "poller.h"

extern char **environ;

namespace {

// A trace line of 40 to 79 characters, different for every n.
std::string trace_line(uint32_t n)
{
	char text[HL_RECORD_SIZE];
	uint32_t len = 40 + n * 2654435761u % 40;
	std::snprintf(text, sizeof text, "%08u dev0: event %u status 0x%04x ", n,
		      n % 97, n & 0xffff);
	std::string line(text);
	line.resize(len, 'x');
	return line;
}

// 1. The print path: one full batch through the tool's printer, against the
// same bytes handed to a single write.
struct full_batch {
	hl_record records[HL_BATCH_RECORDS];
	std::string as_lines;
	full_batch()
	{
		for (uint32_t i = 0; i < HL_BATCH_RECORDS; i++) {
			std::string line = trace_line(i);
			std::memcpy(records[i], line.c_str(), line.size() + 1);
			as_lines += line + "\n";
		}
	}
};

void BM_PrintBatch(benchmark::State &state)
{
	static full_batch batch;
	std::FILE *sink = std::fopen("/dev/null", "w");
	for (auto _ : state)
		benchmark::DoNotOptimize(print_batch(sink, batch.records[0],
						     HL_BATCH_RECORDS, false));
	std::fclose(sink);
	state.SetItemsProcessed(state.iterations() * HL_BATCH_RECORDS);
	state.SetBytesProcessed(int64_t(state.iterations() * batch.as_lines.size()));
}
BENCHMARK(BM_PrintBatch);

void BM_OneWrite(benchmark::State &state)
{
	static full_batch batch;
	int sink = open("/dev/null", O_WRONLY);
	for (auto _ : state)
		benchmark::DoNotOptimize(write(sink, batch.as_lines.data(),
					       batch.as_lines.size()));
	close(sink);
	state.SetItemsProcessed(state.iterations() * HL_BATCH_RECORDS);
	state.SetBytesProcessed(int64_t(state.iterations() * batch.as_lines.size()));
}
BENCHMARK(BM_OneWrite);

// 2. The whole process: msgpoll -s 0 copying a million lines from the
// stand-in to a file, in full batches, against dd copying the same file in
// writes of one batch's size (the most that one write per batch leaves
// possible) and cat, run side by side so that all meet the same machine;
// the figures are the medians of the runs' ratios. The lines are all 60
// bytes long, or, with the argument 1, of 41 to 60 bytes mixed.
const int messages = 1000000;
const int pairs = 11;
const int line_bytes = 60;
std::vector<std::string> made_files; // removed at the end

std::string bench_file(const char *suffix)
{
	return "/tmp/msgpoll_bench_" + std::to_string(getpid()) + suffix;
}

std::string message_file(bool mixed)
{
	std::string path = bench_file(mixed ? ".mixed" : ".in");
	if (std::find(made_files.begin(), made_files.end(), path) != made_files.end())
		return path;
	made_files.push_back(path);
	std::FILE *f = std::fopen(path.c_str(), "w");
	for (uint32_t i = 0; i < messages; i++) {
		std::string line = trace_line(i);
		line.resize(mixed ? std::min<size_t>(line.size(), line_bytes - 1)
				  : line_bytes - 1, 'x');
		std::fprintf(f, "%s\n", line.c_str());
	}
	std::fclose(f);
	return path;
}

// Runs argv with standard output to a new file out and standard error to
// /dev/null; returns its exit status, and its wall time in *seconds. The
// old out is removed first, so that neither side pays for the other's
// truncation.
int run_to_file(std::vector<const char *> argv, const std::string &out,
		double *seconds)
{
	std::remove(out.c_str());
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, 1, out.c_str(),
					 O_WRONLY | O_CREAT | O_TRUNC, 0600);
	posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
	argv.push_back(nullptr);
	pid_t pid;
	int st = -1;
	auto start = std::chrono::steady_clock::now();
	if (posix_spawn(&pid, argv[0], &actions, nullptr,
			const_cast<char **>(argv.data()), environ) == 0)
		waitpid(pid, &st, 0);
	*seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
			   .count();
	posix_spawn_file_actions_destroy(&actions);
	return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

double median(std::vector<double> v)
{
	std::sort(v.begin(), v.end());
	return v[v.size() / 2];
}

void BM_MsgpollAgainstCat(benchmark::State &state)
{
	std::string in = message_file(state.range(0) == 1);
	setenv("HARLEN_TRACE_SOURCE", in.c_str(), 1);
	setenv("HARLEN_FAULT", "read@end=1", 1); // ends after the last batch
	std::string out = in + ".out";
	std::string dd_in = "if=" + in;
	// One batch's bytes: with mixed lengths, a batch's on average.
	struct stat st;
	stat(in.c_str(), &st);
	std::string dd_bs = "bs=" + std::to_string(st.st_size / (messages / HL_BATCH_RECORDS));
	std::vector<double> msgpoll, cat, ratios, dd_ratios;
	for (auto _ : state) {
		for (int i = 0; i < pairs; i++) {
			double m, c, d;
			if (run_to_file({MSGPOLL_PATH, "-s", "0"}, out, &m) != 1 ||
			    run_to_file({"/bin/cat", in.c_str()}, out, &c) != 0 ||
			    run_to_file({"/bin/dd", dd_in.c_str(), dd_bs.c_str()}, out, &d) != 0)
				state.SkipWithError("msgpoll, cat or dd failed");
			msgpoll.push_back(m);
			cat.push_back(c);
			ratios.push_back(c / m);
			dd_ratios.push_back(d / m);
		}
	}
	unsetenv("HARLEN_TRACE_SOURCE");
	unsetenv("HARLEN_FAULT");
	std::remove(out.c_str());
	state.counters["msgpoll_per_s"] = messages / median(msgpoll);
	state.counters["cat_per_s"] = messages / median(cat);
	state.counters["ratio"] = median(ratios);
	state.counters["dd_ratio"] = median(dd_ratios);
}
BENCHMARK(BM_MsgpollAgainstCat)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// CPU time a process has run, in nanoseconds (Linux: /proc/PID/schedstat).
double cpu_ns(pid_t pid)
{
	std::FILE *f = std::fopen(("/proc/" + std::to_string(pid) + "/schedstat").c_str(), "r");
	double ns = -1;
	if (f && std::fscanf(f, "%lf", &ns) != 1)
		ns = -1;
	if (f)
		std::fclose(f);
	return ns;
}

// 3. Idle: msgpoll at its default interval on a terminal, on a quiet file,
// once it has started. Beside it, over the same seconds: a process that only
// polls for 200 ms in a loop (what five wake-ups a second cost here), and
// one that makes the two calls of msgpoll's quiet cycle, a wait on its
// terminal and a seek to the file's end. Processes that wake together
// change what each wake-up costs the others, and that stays so for as long
// as they run: so each trial starts the three afresh, a third of an
// interval apart and each time in another order, and the ratios are the
// medians of the trials'.
enum idler { bare_loop, msgpoll_itself, two_calls };

pid_t start_idler(idler kind, const std::string &empty, int *terminal)
{
	pid_t pid = forkpty(terminal, nullptr, nullptr, nullptr);
	if (pid != 0)
		return pid;
	if (kind == msgpoll_itself) {
		setenv("HARLEN_TRACE_SOURCE", empty.c_str(), 1);
		execl(MSGPOLL_PATH, MSGPOLL_PATH, (char *)nullptr);
		_exit(127);
	}
	if (kind == bare_loop)
		for (;;)
			poll(nullptr, 0, 200);
	int file = open(empty.c_str(), O_RDONLY);
	int set = epoll_create1(0);
	epoll_event key = {};
	key.events = EPOLLIN;
	epoll_ctl(set, EPOLL_CTL_ADD, 0, &key);
	sigset_t none;
	sigemptyset(&none);
	for (;; lseek(file, 0, SEEK_END))
		epoll_pwait(set, &key, 1, 200, &none);
}

void BM_Idle(benchmark::State &state)
{
	std::string empty = bench_file(".empty");
	std::fclose(std::fopen(empty.c_str(), "w"));
	const int trials = 9;
	const double window_s = 2;
	std::vector<double> ratios, calls_ratios, used[3];
	bool ran = true;
	for (auto _ : state) {
		for (int t = 0; t < trials; t++) {
			pid_t pid[3];
			int terminal[3];
			for (int k = 0; k < 3; k++) {
				idler kind = idler((t + k) % 3);
				pid[kind] = start_idler(kind, empty, &terminal[kind]);
				std::this_thread::sleep_for(std::chrono::milliseconds(67));
			}
			std::this_thread::sleep_for(std::chrono::milliseconds(500));
			double first[3], cpu[3];
			for (int k = 0; k < 3; k++)
				first[k] = cpu_ns(pid[k]);
			std::this_thread::sleep_for(std::chrono::duration<double>(window_s));
			for (int k = 0; k < 3; k++)
				cpu[k] = cpu_ns(pid[k]) - first[k];
			int st;
			ran = ran && write(terminal[msgpoll_itself], "q", 1) == 1 &&
			      waitpid(pid[msgpoll_itself], &st, 0) > 0 && WIFEXITED(st) &&
			      WEXITSTATUS(st) == 0;
			for (int k = 0; k < 3; k++) {
				if (k != msgpoll_itself) {
					kill(pid[k], SIGKILL);
					waitpid(pid[k], nullptr, 0);
				}
				close(terminal[k]);
				ran = ran && first[k] >= 0;
				used[k].push_back(cpu[k] / 1e6 / window_s);
			}
			ratios.push_back(cpu[msgpoll_itself] / cpu[bare_loop]);
			calls_ratios.push_back(cpu[two_calls] / cpu[bare_loop]);
		}
	}
	std::remove(empty.c_str());
	state.counters["cpu_ms_per_s"] = median(used[msgpoll_itself]);
	state.counters["floor_cpu_ms_per_s"] = median(used[bare_loop]);
	state.counters["calls_cpu_ms_per_s"] = median(used[two_calls]);
	state.counters["ratio"] = median(ratios);
	state.counters["calls_ratio"] = median(calls_ratios);
	if (!ran)
		state.SkipWithError("msgpoll did not run and quit on q");
}
BENCHMARK(BM_Idle)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
	benchmark::Initialize(&argc, argv);
	benchmark::RunSpecifiedBenchmarks();
	benchmark::Shutdown();
	for (const std::string &path : made_files)
		std::remove(path.c_str());
	return 0;
}
