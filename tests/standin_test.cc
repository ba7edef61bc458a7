// The stand-in library, through the five operations as msgpoll calls them.
#include "harlen620.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::string_literals;

std::string temp_path(const char *name)
{
	return ::testing::TempDir() + "standin_" + name + "_" +
	       std::to_string(getpid());
}

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

class StandIn : public ::testing::Test {
protected:
	void TearDown() override
	{
		unsetenv("HARLEN_TRACE_SOURCE");
		unsetenv("HARLEN_FAULT");
		if (handle)
			hl_close(handle);
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
	append(path, "one\n\nthree\r\n" + l79 + "\n" + l80 + "\n" + l200 + "\n" +
			     euro + "\nnul\0byte\n"s + "partial");
	setenv("HARLEN_TRACE_SOURCE", path.c_str(), 1);
	ASSERT_EQ(open_device(&handle), 0);

	std::vector<std::string> got;
	for (int i = 0; i < 20; i++) {
		std::vector<std::string> part = read_records(handle, 2);
		got.insert(got.end(), part.begin(), part.end());
	}
	std::vector<std::string> want = {"one", "", "three", l79, l80.substr(0, 79),
		"b", l200.substr(0, 79), l200.substr(0, 79), l200.substr(0, 42),
		std::string(78, 'd'), "\xe2\x82\xac" "e", "nul?byte", "partial"};
	EXPECT_EQ(got, want);

	append(path, " line\nlater\n");
	EXPECT_EQ(read_records(handle), (std::vector<std::string>{" line", "later"}));
	EXPECT_EQ(read_records(handle), std::vector<std::string>{});
	std::remove(path.c_str());
}

TEST_F(StandIn, FifoIsFollowedAcrossWriters)
{
	std::string path = temp_path("fifo");
	std::remove(path.c_str());
	ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
	setenv("HARLEN_TRACE_SOURCE", path.c_str(), 1);
	ASSERT_EQ(open_device(&handle), 0);
	EXPECT_EQ(read_records(handle), std::vector<std::string>{});

	// A writer that leaves a line unfinished and closes ends that line.
	std::vector<std::vector<std::string>> want = {{"first", "sec"}, {"ond"}};
	int i = 0;
	for (const char *text : {"first\nsec", "ond\n"}) {
		int fd = open(path.c_str(), O_WRONLY);
		ASSERT_GE(fd, 0);
		ASSERT_EQ(write(fd, text, std::strlen(text)), ssize_t(std::strlen(text)));
		close(fd);
		EXPECT_EQ(read_records(handle), want[i++]);
	}
	std::remove(path.c_str());
}

TEST_F(StandIn, FaultsFireWhereTheyArePlanned)
{
	setenv("HARLEN_FAULT", "open=-9", 1);
	EXPECT_EQ(open_device(&handle), -9);
	for (const char *bad : {"open=0", "open=x", "read@0=5", "read@2", "close=1,",
				"open=99999999999", "jump=1"}) {
		setenv("HARLEN_FAULT", bad, 1);
		EXPECT_EQ(open_device(&handle), 7) << bad;
	}

	setenv("HARLEN_TRACE_SOURCE", "/nonexistent/trace", 1);
	setenv("HARLEN_FAULT", "", 1);
	EXPECT_EQ(open_device(&handle), 6);

	std::string path = temp_path("faults");
	std::remove(path.c_str());
	append(path, "only\n");
	setenv("HARLEN_TRACE_SOURCE", path.c_str(), 1);
	setenv("HARLEN_FAULT", "read@3=12,read@end=13,close=14", 1);
	ASSERT_EQ(open_device(&handle), 0);
	read_records(handle);
	uint32_t count = 500;
	static hl_record batch[HL_BATCH_RECORDS];
	EXPECT_EQ(hl_read_trace(handle, batch[0], &count), 13);
	EXPECT_EQ(hl_read_trace(handle, batch[0], &count), 12);
	EXPECT_EQ(hl_close(handle), 14);

	::testing::internal::CaptureStderr();
	hl_report_error(handle, 14, "hl_close");
	hl_report_error(nullptr, 1234, "Could not get trace data from device");
	hl_report_error(nullptr, 6, "hl_open");
	EXPECT_EQ(::testing::internal::GetCapturedStderr(),
		  "hl_close: status 14 (injected fault)\n"
		  "Could not get trace data from device: status 1234 (unknown status)\n"
		  "hl_open: status 6 (trace source: No such file or directory)\n");
	std::remove(path.c_str());
}

} // namespace
