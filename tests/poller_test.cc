// The poller against a scripted device and console: the calls of a run in
// their order, each failure reported once with its handle, one key a cycle,
// the pause after every batch; and the batch printer: empty records, bad
// counts, control bytes shown on a terminal only.
#include "poller.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fakes.h"
#include "stream_text.h"

namespace {

using calls_t = std::vector<std::string>;

// The trace lines as written, each platform line end shown as "\n".
std::string lines_of(std::FILE *f)
{
	std::string text = contents(f), lines;
	const std::string end = output_line_end;
	for (std::size_t at = 0, next; at < text.size(); at = next + end.size()) {
		next = text.find(end, at);
		if (next == std::string::npos)
			return lines + text.substr(at) + "<no line end>";
		lines += text.substr(at, next - at) + "\n";
	}
	return lines;
}

struct run_result {
	int status;
	std::string out, err;
};

run_result run(uint32_t sleeplen = 200)
{
	std::FILE *out = std::tmpfile(), *err = std::tmpfile();
	int status = run_poller(sleeplen, out, err);
	return {status, lines_of(out), contents(err)};
}

const std::string prompt = "Press 'q' to quit.\n\n";
const calls_t opening = {"hl_device_name 0 3 20", "hl_open ake0 3"};

// The calls of a run whose open succeeded: the cycle's calls, then the
// console put back on the way out, the rest of the input discarded after q.
calls_t after_open(calls_t cycle, bool quit = true)
{
	calls_t all = opening;
	all.push_back("console open");
	all.insert(all.end(), cycle.begin(), cycle.end());
	all.push_back(quit ? "console close after q" : "console close");
	return all;
}

class Poller : public ::testing::Test {
protected:
	void SetUp() override { reset_fakes(); }
};

TEST_F(Poller, FailedOpenIsReportedWithTheHandleItLeftAndNoPrompt)
{
	int left;
	script.open_status = -5;
	script.handle_left = &left;
	run_result r = run();
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "");
	calls_t want = opening;
	want.push_back("hl_report_error other -5 hl_open");
	EXPECT_EQ(calls, want);
}

TEST_F(Poller, QuitKeyAlreadyWaitingClosesBeforeAnyRead)
{
	for (const char *key : {"q", "Q"}) {
		reset_fakes();
		script.typed_before = key;
		run_result r = run();
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.err, prompt);
		EXPECT_EQ(calls, after_open({std::string("key ") + key,
					     "hl_close device"}));
	}
}

TEST_F(Poller, FailedCloseIsReportedWithTheHandle)
{
	script.typed_before = "q";
	script.close_status = 42;
	EXPECT_EQ(run().status, 1);
	EXPECT_EQ(calls, after_open({"key q", "hl_close device",
				     "hl_report_error device 42 hl_close"}));
}

TEST_F(Poller, FailedReadIsReportedWithNullHandleAndLeavesDeviceOpen)
{
	script.reads = {{7, {}, 0}};
	run_result r = run();
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, prompt);
	EXPECT_EQ(calls,
		  after_open({"hl_read_trace device 500",
			      "hl_report_error null 7 Could not get trace data "
			      "from device"}, false));
}

TEST_F(Poller, OtherKeyIsDroppedAndOneKeyIsTakenPerCycle)
{
	script.reads = {{0, {"first"}}, {0, {"second"}}};
	script.typed_after[1] = "xq";
	run_result r = run(50);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "first\nsecond\n");
	EXPECT_EQ(calls, after_open({"hl_read_trace device 500", "pause 50",
				     "key x", "hl_read_trace device 500",
				     "pause 50", "key q", "hl_close device"}));
}

TEST_F(Poller, EveryBatchIsFollowedByThePauseEvenAnEmptyOne)
{
	script.reads = {{0, {}}, {0, {"a", "b", "c"}}, {0, {}}};
	script.typed_after[3] = "q";
	run_result r = run(0);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "a\nb\nc\n");
	EXPECT_EQ(calls,
		  after_open({"hl_read_trace device 500", "pause 0",
			      "hl_read_trace device 500", "pause 0",
			      "hl_read_trace device 500", "pause 0", "key q",
			      "hl_close device"}));
}

TEST_F(Poller, FailedWriteEndsTheRunWithoutFurtherReads)
{
	std::FILE *full = std::fopen("/dev/full", "w");
	if (!full)
		GTEST_SKIP() << "no /dev/full here";
	script.reads = {{0, std::vector<std::string>(500, std::string(79, 'x'))}};
	std::FILE *err = std::tmpfile();
	EXPECT_EQ(run_poller(0, full, err), 1);
	std::fclose(full);
	EXPECT_EQ(contents(err), prompt +
					 "msgpoll: cannot write to standard output: "
					 "No space left on device\n");
	EXPECT_EQ(calls, after_open({"hl_read_trace device 500"}, false));
}

// A pipe whose reader left is found by the pause, even with nothing to
// write; a wait that fails ends the run too, once reported.
TEST_F(Poller, PauseThatCannotGoOnEndsTheRun)
{
	for (bool reader_left : {true, false}) {
		reset_fakes();
		script.reads = {{0, {}}, {0, {}}};
		(reader_left ? script.output_gone_at : script.wait_fails_at) = 2;
		run_result r = run(10);
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.err, prompt + (reader_left ? "msgpoll: cannot write to standard "
							 "output: Broken pipe\n"
						       : "msgpoll: cannot wait for the keyboard: "
							 "Invalid argument\n"));
		EXPECT_EQ(calls, after_open({"hl_read_trace device 500", "pause 10",
					     "hl_read_trace device 500", "pause 10"}, false));
	}
}

std::string printed(const std::vector<std::string> &records, uint32_t count,
		    bool for_terminal = false)
{
	static hl_record batch[HL_BATCH_RECORDS + 1];
	for (std::size_t i = 0; i < records.size(); i++) {
		std::string r = records[i];
		std::copy(r.begin(), r.end(), batch[i]);
		if (r.size() < HL_RECORD_SIZE)
			batch[i][r.size()] = '\0';
	}
	std::FILE *out = std::tmpfile();
	EXPECT_EQ(print_batch(out, batch[0], count, for_terminal), 0);
	return lines_of(out);
}

TEST(PrintBatch, EmptyRecordsPrintNothingAndHideNoneAfterThem)
{
	for (bool for_terminal : {false, true})
		EXPECT_EQ(printed({"", "a", "", "", "b", ""}, 6, for_terminal), "a\nb\n");
	EXPECT_EQ(printed({"a", "b"}, 0), "");
	EXPECT_EQ(printed({"a", "b", "c"}, 2), "a\nb\n");
}

TEST(PrintBatch, BadCountsAndMissingNulsStayInsideTheBatch)
{
	std::string full(80, 'z');
	EXPECT_EQ(printed({full, "next"}, 2), full + "\nnext\n");

	// A 501st record lies past the batch: a count above 500 is 500.
	std::vector<std::string> records(501, "r");
	records[500] = "past the batch";
	std::string lines;
	for (int i = 0; i < 500; i++)
		lines += "r\n";
	EXPECT_EQ(printed(records, 501), lines);
	EXPECT_EQ(printed(records, UINT32_MAX), lines);
}

TEST(PrintBatch, FullAndEmptyBatchesAndBytesAbove127)
{
	std::string longest(79, 'w');
	std::string lines;
	for (int i = 0; i < 500; i++)
		lines += longest + "\n";
	EXPECT_EQ(printed(std::vector<std::string>(500, longest), 500), lines);
	EXPECT_EQ(printed(std::vector<std::string>(500, ""), 500), "");
	EXPECT_EQ(printed({"caf\xc3\xa9 \xff\x80"}, 1), "caf\xc3\xa9 \xff\x80\n");
}

TEST(PrintBatch, ControlBytesAreShownOnATerminalAndPassElsewhere)
{
	const struct {
		std::string record, shown;
	} cases[] = {
		{"\x1b]0;title\x07", "\\x1b]0;title\\x07"},
		{"a\rb\tc\n", "a\\x0db\tc\\x0a"},
		{"\x7f\x1f \x20", "\\x7f\\x1f  "},
		{"\xc2\x9b" "1m \xc2\x80\xc2\x9f", "\\xc2\\x9b1m \\xc2\\x80\\xc2\\x9f"},
		// NBSP, an e acute, C2 before C2 85, and a C2 that ends the record
		{"\xc2\xa0 caf\xc3\xa9 \xc2\xc2\x85 \xc2",
		 "\xc2\xa0 caf\xc3\xa9 \\xc2\\xc2\\x85 \\xc2"},
		// lone bytes, overlong forms, a surrogate, past U+10FFFF, cut short
		{"\x9b\x9d\xff\x80 \xc0\xaf \xe0\x80\xaf", "\\x9b\\x9d\\xff\\x80 \\xc0\\xaf \\xe0\\x80\\xaf"},
		{"\xed\xa0\x80 \xf4\x90\x80\x80 \xe2\x82x",
		 "\\xed\\xa0\\x80 \\xf4\\x90\\x80\\x80 \\xe2\\x82x"},
		// the edges of valid UTF-8 pass
		{"\xed\x9f\xbf \xf0\x90\x80\x80 \xf4\x8f\xbf\xbf \xe0\xa0\x80",
		 "\xed\x9f\xbf \xf0\x90\x80\x80 \xf4\x8f\xbf\xbf \xe0\xa0\x80"},
	};
	for (const auto &c : cases) {
		EXPECT_EQ(printed({c.record}, 1, true), c.shown + "\n");
		EXPECT_EQ(printed({c.record}, 1, false), c.record + "\n");
	}
	// The largest batch: 80 control bytes in every record.
	std::string all_escaped;
	for (int i = 0; i < 80; i++)
		all_escaped += "\\x1b";
	std::string lines;
	for (int i = 0; i < 500; i++)
		lines += all_escaped + "\n";
	EXPECT_EQ(printed(std::vector<std::string>(500, std::string(80, '\x1b')), 500, true),
		  lines);
}

TEST_F(Poller, ShowsControlBytesOnlyWhenOutputIsATerminal)
{
	for (bool terminal : {false, true}) {
		reset_fakes();
		script.out_is_terminal = terminal;
		script.reads = {{0, {"\x1b[2J"}}};
		script.typed_after[1] = "q";
		EXPECT_EQ(run().out, terminal ? "\\x1b[2J\n" : "\x1b[2J\n");
	}
}

} // namespace
