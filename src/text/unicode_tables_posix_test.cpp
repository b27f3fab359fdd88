// The committed tables must be what the generator makes from the installed
// character database; a stale file would silently measure and lower-case by
// old data. Linux only: the Windows build has no database and no Python.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(UnicodeTables, CommittedFileIsUpToDate) {
  const fs::path ucd = "/usr/share/unicode";
  if (!fs::exists(ucd / "UnicodeData.txt") ||
      std::system("python3 --version >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs python3 and the Unicode Character Database in " << ucd;
  }
  const fs::path source = SORVANE_SOURCE_DIR;
  const fs::path fresh =
      fs::temp_directory_path() / ("sorvane_unicode_tables_" + std::to_string(getpid()) + ".cpp");
  const std::string command = "python3 '" + (source / "tools/gen_unicode_tables.py").string() +
                              "' --ucd '" + ucd.string() + "' --output '" + fresh.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const std::string generated = read_file(fresh);
  fs::remove(fresh);
  EXPECT_FALSE(generated.empty());
  EXPECT_TRUE(generated == read_file(source / "src/text/unicode_tables.cpp"))
      << "src/text/unicode_tables.cpp is stale: re-run tools/gen_unicode_tables.py";
}

}  // namespace
