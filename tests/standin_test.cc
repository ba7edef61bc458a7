// The stand-in library, through the five operations as msgpoll calls them.
#include "harlen620.h"

#include <gtest/gtest.h>

#include "test_folder.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::string_literals;

void append(const std::string &path, const std::string &text)
{
	std::FILE *f = std::fopen(path.c_str(), "ab");
	ASSERT_NE(f, nullptr);
	std::fwrite(text.data(), 1, text.size(), f);
	std::fclose(f);
}

hl_status open_device(hl_handle *handle)
{
	char name[20];
	return hl_open(handle, hl_device_name(0, 3, name, 20), 3);
}

// Reads once with room for capacity records and checks that the device
// stayed inside them and ended each with a NUL.
std::vector<std::string> read_records(hl_handle handle, uint32_t capacity = 500)
{
	static hl_record batch[HL_BATCH_RECORDS + 1];
	std::memset(batch, '#', sizeof batch);
	uint32_t count = capacity;
	EXPECT_EQ(hl_read_trace(handle, batch[0], &count), 0);
	EXPECT_LE(count, capacity);
	EXPECT_EQ(batch[capacity][0], '#') << "wrote past the batch";
	std::vector<std::string> records;
	for (uint32_t i = 0; i < count && i < capacity; i++) {
		EXPECT_NE(std::memchr(batch[i], '\0', HL_RECORD_SIZE), nullptr);
		records.emplace_back(batch[i]);
	}
	return records;
}

// Reads until the device has delivered want records, for at most a few
// seconds: some lines wait for their writer.
std::vector<std::string> read_until(hl_handle handle, std::size_t want)
{
	std::vector<std::string> got;
	auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
	while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
		std::vector<std::string> part = read_records(handle);
		got.insert(got.end(), part.begin(), part.end());
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	return got;
}

class StandIn : public TestFolder {
protected:
	StandIn() : TestFolder("msgpoll_standin_") {}
	void TearDown() override
	{
		unsetenv("HARLEN_TRACE_SOURCE");
		unsetenv("HARLEN_FAULT");
		if (handle)
			hl_close(handle);
		TestFolder::TearDown();
	}
	std::string temp_path(const char *name) const { return dir + "/" + name; }
	// What hl_report_error writes for each status, label "hl_open".
	std::string reports(const std::vector<hl_status> &statuses)
	{
		std::string path = temp_path("stderr");
		std::fflush(stderr);
		int saved = dup(2);
		std::FILE *f = std::fopen(path.c_str(), "w");
		dup2(fileno(f), 2);
		for (hl_status s : statuses)
			hl_report_error(nullptr, s, "hl_open");
		std::fflush(stderr);
		dup2(saved, 2);
		close(saved);
		std::fclose(f);
		std::ifstream in(path);
		std::stringstream text;
		text << in.rdbuf();
		return text.str();
	}
	hl_handle handle = nullptr;
};

TEST(DeviceName, FitsTheBufferOrFails)
{
	char buffer[24];
	std::memset(buffer, '#', sizeof buffer);
	EXPECT_EQ(hl_device_name(0, 3, buffer, 20), buffer);
	EXPECT_STREQ(buffer, "harlen0.3");

	std::memset(buffer, '#', sizeof buffer);
	EXPECT_EQ(hl_device_name(0, 3, buffer, 9), nullptr);
	EXPECT_EQ(buffer[0], '\0');
	EXPECT_EQ(buffer[9], '#');
	EXPECT_EQ(hl_device_name(-2147483647 - 1, -1, buffer, 20), nullptr);
	EXPECT_EQ(buffer[20], '#');
	EXPECT_EQ(hl_device_name(0, 3, nullptr, 20), nullptr);
	EXPECT_EQ(hl_device_name(0, 3, buffer, 0), nullptr);
}

TEST_F(StandIn, OpensOnlyUnitZeroKindThreeWithAccessThree)
{
	char other[20];
	hl_device_name(1, 3, other, 20);
	EXPECT_EQ(hl_open(&handle, other, 3), 1);
	EXPECT_EQ(hl_open(&handle, nullptr, 3), 5);
	char name[20];
	EXPECT_EQ(hl_open(&handle, hl_device_name(0, 3, name, 20), 1), 2);
	EXPECT_EQ(handle, nullptr);

	ASSERT_EQ(open_device(&handle), 0);
	hl_handle second = nullptr;
	EXPECT_EQ(open_device(&second), 3);
	EXPECT_EQ(hl_close(handle), 0);
	EXPECT_EQ(hl_close(handle), 4);
	uint32_t count = 500;
	EXPECT_EQ(hl_read_trace(handle, name, &count), 4);
	handle = nullptr;
}

TEST_F(StandIn, DemoDriverDeliversNumberedMessages)
{
	ASSERT_EQ(open_device(&handle), 0);
	std::vector<std::string> first = read_records(handle);
	ASSERT_EQ(first.size(), 1u);
	EXPECT_EQ(first[0].substr(0, 16), "000001 [     0.0");
}

TEST_F(StandIn, FileLinesBecomeRecordsAndLongLinesContinue)
{
	std::string path = temp_path("lines");
	std::string l79(79, 'a'), l80(80, 'b'), l200(200, 'c');
	std::string euro = std::string(78, 'd') + "\xe2\x82\xac" + "e";
	std::remove(path.c_str());
	append(path, "one\n\nthree\r\nzero\0byte\n"s + l79 + "\n" + l80 + "\n" +
			     l200 + "\n" + euro + "\nnul\0byte\nend\r\n"s + "partial");
	setenv("HARLEN_TRACE_SOURCE", path.c_str(), 1);
	ASSERT_EQ(open_device(&handle), 0);

	std::vector<std::string> got;
	for (int i = 0; i < 20; i++) {
		std::vector<std::string> part = read_records(handle, 2);
		got.insert(got.end(), part.begin(), part.end());
	}
	std::vector<std::string> want = {"one", "", "three", "zero?byte", l79,
		l80.substr(0, 79), "b", l200.substr(0, 79), l200.substr(0, 79),
		l200.substr(0, 42), std::string(78, 'd'), "\xe2\x82\xac" "e",
		"nul?byte", "end"};
	EXPECT_EQ(got, want);

	// A line is one message, however many writes it took.
	append(path, " line\nlater\n");
	EXPECT_EQ(read_records(handle), (std::vector<std::string>{"partial line", "later"}));
	EXPECT_EQ(read_records(handle), std::vector<std::string>{});
	// Without its end, it goes out once the file has stopped growing.
	append(path, "last");
	EXPECT_EQ(read_until(handle, 1), std::vector<std::string>{"last"});
}

// Lines of every length one after another, so that line ends fall at every
// place in the blocks the text is looked through in.
TEST_F(StandIn, LinesOfEveryLengthInARow)
{
	std::string path = temp_path("lengths"), text;
	std::vector<std::string> want;
	for (std::size_t len = 0; len <= 170; len++) {
		std::string line(len, char('a' + len % 26));
		text += line + "\n";
		for (std::size_t at = 0; at < len || at == 0; at += 79)
			want.push_back(line.substr(at, 79));
	}
	append(path, text + text);
	std::vector<std::string> twice = want;
	want.insert(want.end(), twice.begin(), twice.end());
	setenv("HARLEN_TRACE_SOURCE", path.c_str(), 1);
	ASSERT_EQ(open_device(&handle), 0);
	EXPECT_EQ(read_until(handle, want.size()), want);
}

// Truncated and written again, as by a log rotation: read again from the
// top, the line the truncation cut dropped.
TEST_F(StandIn, TruncatedFileIsReadAgainFromItsTop)
{
	std::string path = temp_path("rotated");
	append(path, "old 1\nold 2\ncut");
	setenv("HARLEN_TRACE_SOURCE", path.c_str(), 1);
	ASSERT_EQ(open_device(&handle), 0);
	EXPECT_EQ(read_records(handle), (std::vector<std::string>{"old 1", "old 2"}));
	std::fclose(std::fopen(path.c_str(), "w"));
	EXPECT_EQ(read_records(handle), std::vector<std::string>{});
	append(path, "new 1\nnew 2\nnew 3\n");
	EXPECT_EQ(read_records(handle), (std::vector<std::string>{"new 1", "new 2", "new 3"}));
}

TEST_F(StandIn, FifoIsFollowedAcrossWriters)
{
	std::string path = temp_path("fifo");
	std::remove(path.c_str());
	ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
	setenv("HARLEN_TRACE_SOURCE", path.c_str(), 1);
	ASSERT_EQ(open_device(&handle), 0);
	EXPECT_EQ(read_records(handle), std::vector<std::string>{});

	// A line written in pieces is one message; one that a writer leaves
	// unfinished when it closes ends there.
	int fd = open(path.c_str(), O_WRONLY);
	ASSERT_GE(fd, 0);
	for (const char *piece : {"chunk1-", "chunk2-", "chunk3-", "end\nsec"}) {
		EXPECT_EQ(read_records(handle), std::vector<std::string>{});
		ASSERT_EQ(write(fd, piece, std::strlen(piece)), ssize_t(std::strlen(piece)));
	}
	EXPECT_EQ(read_records(handle), std::vector<std::string>{"chunk1-chunk2-chunk3-end"});
	close(fd);
	EXPECT_EQ(read_records(handle), std::vector<std::string>{"sec"});
}

TEST_F(StandIn, FaultsFireWhereTheyArePlanned)
{
	setenv("HARLEN_FAULT", " open = -9 ", 1);
	EXPECT_EQ(open_device(&handle), -9);
	for (const char *bad : {"open=0", "open=x", "read@0=5", "read@2", "close=1,",
				"open=99999999999", "jump=1", "read@2=5,read@2=6",
				"read@end=1, read@end=2", "read@ 2=5", "open=5x"}) {
		setenv("HARLEN_FAULT", bad, 1);
		EXPECT_EQ(open_device(&handle), 7) << bad;
	}
	std::string most = "close=1"; // 64 items are planned, a 65th is too many
	for (int n = 1; n < 64; n++)
		most += ",read@" + std::to_string(n) + "=1";
	setenv("HARLEN_FAULT", most.c_str(), 1);
	ASSERT_EQ(open_device(&handle), 0);
	EXPECT_EQ(hl_close(handle), 1);
	EXPECT_EQ(hl_close(handle), 0);
	setenv("HARLEN_FAULT", (most + ",read@65=1").c_str(), 1);
	EXPECT_EQ(open_device(&handle), 7);
	EXPECT_EQ(reports({7}),
		  "hl_open: status 7 (HARLEN_FAULT item not understood: \"read@65=1\")\n");
	setenv("HARLEN_FAULT", "open=1, read@2=5, jump=1", 1);
	EXPECT_EQ(open_device(&handle), 7);
	EXPECT_EQ(reports({7}),
		  "hl_open: status 7 (HARLEN_FAULT item not understood: \"jump=1\")\n");

	setenv("HARLEN_TRACE_SOURCE", "/nonexistent/trace", 1);
	setenv("HARLEN_FAULT", "", 1);
	EXPECT_EQ(open_device(&handle), 6);
	EXPECT_EQ(reports({6, 1234}),
		  "hl_open: status 6 (trace source /nonexistent/trace: No such file or directory)\n"
		  "hl_open: status 1234 (unknown status)\n");

	// Empty, as unset: the demo driver.
	setenv("HARLEN_TRACE_SOURCE", "", 1);
	ASSERT_EQ(open_device(&handle), 0);
	EXPECT_EQ(read_records(handle).size(), 1u);
	EXPECT_EQ(hl_close(handle), 0);

	std::string path = temp_path("faults");
	append(path, "only\n");
	setenv("HARLEN_TRACE_SOURCE", path.c_str(), 1);
	setenv("HARLEN_FAULT", "read@3=12 ,read@end=13, read@5 =15,close=4", 1);
	ASSERT_EQ(open_device(&handle), 0);
	read_records(handle);
	uint32_t count = 500;
	static hl_record batch[HL_BATCH_RECORDS];
	EXPECT_EQ(hl_read_trace(handle, batch[0], &count), 13);
	EXPECT_EQ(hl_read_trace(handle, batch[0], &count), 12);
	EXPECT_EQ(hl_read_trace(handle, batch[0], &count), 0);
	EXPECT_EQ(hl_read_trace(handle, batch[0], &count), 15);
	EXPECT_EQ(hl_close(handle), 4);
	EXPECT_EQ(reports({4}), "hl_open: status 4 (injected fault)\n");
	// A failure of the stand-in's own, with the status of that fault
	EXPECT_EQ(hl_read_trace(nullptr, batch[0], &count), 4);
	EXPECT_EQ(reports({4}), "hl_open: status 4 (not an open device)\n");
}

} // namespace
