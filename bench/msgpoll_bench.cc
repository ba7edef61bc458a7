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
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harlen620.h"
#include "poller.h"

extern char **environ;

namespace {

// Every file the benchmark makes is one of these, in a directory of its
// own under $TMPDIR or /tmp. All are removed at the end, or when a signal
// ends the run.
enum scratch_file { lines_file, mixed_file, out_file, empty_file, scratch_files };
const char *const scratch_names[scratch_files] = {"lines", "mixed", "out", "empty"};
char scratch_dir[256];
char scratch_paths[scratch_files][320];

void remove_scratch()
{
	for (const char *path : scratch_paths)
		unlink(path);
	rmdir(scratch_dir);
}

void remove_scratch_and_end(int sig)
{
	remove_scratch();
	signal(sig, SIG_DFL);
	raise(sig);
}

const int ending_signals[] = {SIGINT, SIGTERM, SIGHUP};

bool make_scratch()
{
	const char *tmp = std::getenv("TMPDIR");
	std::snprintf(scratch_dir, sizeof scratch_dir, "%s/msgpoll_bench.XXXXXX",
		      tmp && *tmp ? tmp : "/tmp");
	if (!mkdtemp(scratch_dir))
		return false;
	for (int f = 0; f < scratch_files; f++)
		std::snprintf(scratch_paths[f], sizeof scratch_paths[f], "%s/%s",
			      scratch_dir, scratch_names[f]);
	for (int sig : ending_signals)
		signal(sig, remove_scratch_and_end);
	return true;
}

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

double median(std::vector<double> v)
{
	std::sort(v.begin(), v.end());
	return v[v.size() / 2];
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
// possible) and against tail -n +1. The three run in turn, round after
// round, so that all meet the same machine; the figures are the medians of
// the rounds' ratios. The lines are all 60 bytes long, or, with the
// argument 1, of 41 to 60 bytes mixed.
const int messages = 1000000;
const int rounds = 21;
const int line_bytes = 60;

const char *message_file(bool mixed)
{
	const char *path = scratch_paths[mixed ? mixed_file : lines_file];
	std::FILE *f = std::fopen(path, "w");
	for (uint32_t i = 0; i < messages; i++) {
		std::string line = trace_line(i);
		line.resize(mixed ? std::min<size_t>(line.size(), line_bytes - 1)
				  : line_bytes - 1, 'x');
		std::fprintf(f, "%s\n", line.c_str());
	}
	std::fclose(f);
	return path;
}

long long file_size(const char *path)
{
	struct stat st;
	return stat(path, &st) == 0 ? st.st_size : -1;
}

// Runs argv with standard input /dev/null, standard output a new file out
// and standard error /dev/null, in a session of its own: msgpoll finds no
// terminal there and leaves the one bench/run was started from alone.
// Returns its exit status, and its wall time in *seconds. The old out is
// removed first, so that no run pays for the truncation of the one before.
int run_to_file(std::vector<const char *> argv, const char *out, double *seconds)
{
	std::remove(out);
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
	posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_TRUNC, 0600);
	posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
	posix_spawnattr_t attributes;
	posix_spawnattr_init(&attributes);
	posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
	argv.push_back(nullptr);
	pid_t pid;
	int st = -1;
	auto start = std::chrono::steady_clock::now();
	if (posix_spawn(&pid, argv[0], &actions, &attributes,
			const_cast<char **>(argv.data()), environ) == 0)
		waitpid(pid, &st, 0);
	*seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
			   .count();
	posix_spawnattr_destroy(&attributes);
	posix_spawn_file_actions_destroy(&actions);
	return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

void BM_Copy(benchmark::State &state)
{
	const char *in = message_file(state.range(0) == 1);
	const char *out = scratch_paths[out_file];
	long long bytes = file_size(in);
	std::string dd_in = std::string("if=") + in;
	// One batch's bytes: with mixed lengths, a batch's on average.
	std::string dd_bs = "bs=" + std::to_string(bytes / (messages / HL_BATCH_RECORDS));
	struct copier {
		std::vector<const char *> argv;
		int status; // its exit status after a whole copy
		std::vector<double> seconds;
	} copiers[] = {
		// msgpoll ends with 1: the stand-in fails the read at the end.
		{{MSGPOLL_PATH, "-s", "0"}, 1, {}},
		{{"/usr/bin/dd", dd_in.c_str(), dd_bs.c_str()}, 0, {}},
		{{"/usr/bin/tail", "-n", "+1", in}, 0, {}},
	};
	copier &msgpoll = copiers[0], &dd = copiers[1], &tail = copiers[2];
	setenv("HARLEN_TRACE_SOURCE", in, 1);
	setenv("HARLEN_FAULT", "read@end=1", 1);
	for (auto _ : state) {
		for (int r = 0; r < rounds; r++) {
			for (int k = 0; k < 3; k++) {
				copier &c = copiers[(r + k) % 3];
				double s;
				if (run_to_file(c.argv, out, &s) != c.status ||
				    file_size(out) != bytes)
					state.SkipWithError((std::string(c.argv[0]) +
							     " did not copy the file").c_str());
				c.seconds.push_back(s);
			}
		}
	}
	unsetenv("HARLEN_TRACE_SOURCE");
	unsetenv("HARLEN_FAULT");
	std::remove(out);
	std::remove(in);
	// A speed over another is the other's time over its own.
	std::vector<double> of_dd, of_tail;
	for (size_t r = 0; r < msgpoll.seconds.size(); r++) {
		of_dd.push_back(dd.seconds[r] / msgpoll.seconds[r]);
		of_tail.push_back(tail.seconds[r] / msgpoll.seconds[r]);
	}
	state.counters["msgpoll_per_s"] = messages / median(msgpoll.seconds);
	state.counters["dd_per_s"] = messages / median(dd.seconds);
	state.counters["tail_per_s"] = messages / median(tail.seconds);
	state.counters["of_dd"] = median(of_dd);
	state.counters["of_tail"] = median(of_tail);
}
BENCHMARK(BM_Copy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

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
// once it has started. Beside it, over the same seconds, a bare loop of
// 200 ms polls on a terminal of its own: what five wake-ups a second cost
// here, for scale. Processes that wake together change what each wake-up
// costs the other, for as long as they run: so each trial starts both
// afresh, half an interval apart and each in turn first, and each figure is
// the median of the trials'.
const int trials = 9;
const double startup_s = 0.5;
const double window_s = 4;

pid_t start_idler(bool is_msgpoll, int *terminal)
{
	pid_t pid = forkpty(terminal, nullptr, nullptr, nullptr);
	if (pid != 0)
		return pid;
	for (int sig : ending_signals)
		signal(sig, SIG_DFL); // the scratch files are the benchmark's
	if (is_msgpoll) {
		setenv("HARLEN_TRACE_SOURCE", scratch_paths[empty_file], 1);
		unsetenv("HARLEN_FAULT");
		execl(MSGPOLL_PATH, MSGPOLL_PATH, (char *)nullptr);
		_exit(127);
	}
	for (;;)
		poll(nullptr, 0, 200);
}

// Waits a second at most for pid to end, and kills it if it has not.
// Returns whether it ended by itself with status 0.
bool ended(pid_t pid)
{
	int st;
	for (int i = 0; i < 100; i++) {
		if (waitpid(pid, &st, WNOHANG) == pid)
			return WIFEXITED(st) && WEXITSTATUS(st) == 0;
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	kill(pid, SIGKILL);
	waitpid(pid, nullptr, 0);
	return false;
}

void BM_Idle(benchmark::State &state)
{
	std::fclose(std::fopen(scratch_paths[empty_file], "w"));
	enum { bare, msgpoll };
	std::vector<double> used[2];
	bool ran = true;
	for (auto _ : state) {
		for (int t = 0; t < trials; t++) {
			pid_t pid[2];
			int terminal[2];
			for (int k = 0; k < 2; k++) {
				int which = (t + k) % 2;
				pid[which] = start_idler(which == msgpoll, &terminal[which]);
				std::this_thread::sleep_for(std::chrono::milliseconds(100));
			}
			std::this_thread::sleep_for(std::chrono::duration<double>(startup_s));
			double first[2], cpu[2];
			for (int k = 0; k < 2; k++)
				first[k] = cpu_ns(pid[k]);
			std::this_thread::sleep_for(std::chrono::duration<double>(window_s));
			for (int k = 0; k < 2; k++)
				cpu[k] = cpu_ns(pid[k]) - first[k];
			ran = ran && first[bare] >= 0 && first[msgpoll] >= 0 &&
			      write(terminal[msgpoll], "q", 1) == 1 && ended(pid[msgpoll]);
			kill(pid[bare], SIGKILL);
			waitpid(pid[bare], nullptr, 0);
			for (int k = 0; k < 2; k++) {
				close(terminal[k]);
				used[k].push_back(cpu[k] / 1e6 / window_s);
			}
		}
	}
	std::remove(scratch_paths[empty_file]);
	state.counters["cpu_ms_per_s"] = median(used[msgpoll]);
	state.counters["bare_cpu_ms_per_s"] = median(used[bare]);
	if (!ran)
		state.SkipWithError("msgpoll did not run and quit on q");
}
BENCHMARK(BM_Idle)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
	benchmark::Initialize(&argc, argv);
	if (!make_scratch()) {
		std::perror("msgpoll_bench: a scratch directory");
		return 1;
	}
	benchmark::RunSpecifiedBenchmarks();
	benchmark::Shutdown();
	remove_scratch();
	return 0;
}
