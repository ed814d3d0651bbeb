#include "utils/DirectoryReader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>

#include "support/StoreBuilder.h"

using zenqa::utils::DirectoryReader;
using namespace tarmig::testing;

TEST(DirectoryReader, ReportsKindsByLstatAndSkipsDotEntries) {
    TempDir tmp;
    writeFile(tmp.path() + "/file", "x");
    makeDirs(tmp.path() + "/dir");
    ASSERT_EQ(0, symlink("dir", (tmp.path() + "/link").c_str()));

    DirectoryReader reader;
    ASSERT_TRUE(reader.open(tmp.path()));
    std::map<std::string, DirectoryReader::Kind> seen;
    std::string name;
    DirectoryReader::Kind kind;
    while (reader.next(name, kind)) seen[name] = kind;
    EXPECT_EQ((std::map<std::string, DirectoryReader::Kind>{
                  {"file", DirectoryReader::File}, {"dir", DirectoryReader::Directory}, {"link", DirectoryReader::Other}}),
              seen);
    EXPECT_FALSE(reader.next(name, kind));
}

TEST(DirectoryReader, MissingDirectoryDoesNotOpen) {
    DirectoryReader reader;
    EXPECT_FALSE(reader.open("/nonexistent/tarmig"));
    std::string name;
    DirectoryReader::Kind kind;
    EXPECT_FALSE(reader.next(name, kind));
}
