// A test's files live in a folder of their own under the test's temporary
// directory: removed when the test passes, named in its failure when not.
#ifndef MSGPOLL_TEST_FOLDER_H
#define MSGPOLL_TEST_FOLDER_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

class TestFolder : public ::testing::Test {
protected:
	explicit TestFolder(const char *name_prefix) : prefix(name_prefix) {}

	void SetUp() override
	{
		std::string name = ::testing::TempDir() + prefix + "XXXXXX";
		ASSERT_NE(mkdtemp(&name[0]), nullptr);
		dir = name;
	}
	void TearDown() override
	{
		if (HasFailure())
			ADD_FAILURE() << "the test's files are kept in " << dir;
		else
			std::filesystem::remove_all(dir);
	}

	std::string dir;

private:
	const char *prefix;
};

#endif
