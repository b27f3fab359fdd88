#include "transfer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

namespace sorvane::peer {
namespace {

class PeerTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    root_ = fs::temp_directory_path() / ("sorvane-peer-test-" + std::to_string(random()));
    fs::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  fs::path write(const std::string& relative, const std::string& content) {
    fs::path path = root_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  static std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  Result<TransferSummary, std::string> copy(const fs::path& from, const fs::path& to,
                                            CopyOptions options = {}) {
    reports_.clear();
    return copy_tree(
        from, to,
        [this](const TransferCounters& c) {
          reports_.push_back(c);
          return true;
        },
        options);
  }

  fs::path root_;
  std::vector<TransferCounters> reports_;
};

TEST_F(PeerTransfer, DestinationRulesFollowScp) {
  fs::create_directories(root_ / "existing");
  const fs::path source = root_ / "src" / "a.txt";
  const std::pair<fs::path, fs::path> cases[] = {
      {root_ / "existing", root_ / "existing" / "a.txt"},
      {root_ / "new-name.txt", root_ / "new-name.txt"},
      {root_ / "missing" / "b.txt", root_ / "missing" / "b.txt"},
  };
  for (const auto& [destination, target] : cases)
    EXPECT_EQ(copy_target(source, destination), target);
  EXPECT_EQ(copy_target(root_ / "src" / "", root_ / "existing"), root_ / "existing" / "src");
  EXPECT_EQ(copy_target(root_ / "src" / ".", root_ / "existing"), root_ / "existing" / "src");
  EXPECT_EQ(copy_target("..", root_ / "existing"),
            root_ / "existing" / fs::current_path().parent_path().filename());
}

TEST_F(PeerTransfer, TildeMeansTheHomeDirectoryOnlyAtTheStart) {
  const fs::path home = root_ / "home";
  EXPECT_EQ(expand_home("~", home), home);
  EXPECT_EQ(expand_home("~/logs/a.log", home), home / "logs" / "a.log");
  EXPECT_EQ(expand_home("~other/x", home), fs::path("~other/x"));
  EXPECT_EQ(expand_home("/srv/~/x", home), fs::path("/srv/~/x"));
}

TEST_F(PeerTransfer, CopiesAFolderRecursivelyIntoAnExistingDirectory) {
  write("src/a.txt", "alpha");
  write("src/sub/b.bin", std::string(1000, 'b'));
  fs::create_directories(root_ / "src" / "empty");
  fs::create_directories(root_ / "dst");
  write("dst/src/a.txt", "old content, longer than the new");

  auto summary = copy(root_ / "src", root_ / "dst");
  ASSERT_TRUE(summary) << summary.error();
  EXPECT_EQ(summary->files, 2u);
  EXPECT_EQ(summary->bytes, 1005u);
  EXPECT_EQ(summary->failed, 0u);
  EXPECT_EQ(read(root_ / "dst" / "src" / "a.txt"), "alpha");  // overwritten, not appended
  EXPECT_EQ(read(root_ / "dst" / "src" / "sub" / "b.bin"), std::string(1000, 'b'));
  EXPECT_TRUE(fs::is_directory(root_ / "dst" / "src" / "empty"));

  ASSERT_FALSE(reports_.empty());
  const auto& last = reports_.back();
  EXPECT_EQ(last.files, 2u);
  EXPECT_EQ(last.total_files, 2u);
  EXPECT_EQ(last.bytes, 1005u);
  EXPECT_EQ(last.total_bytes, 1005u);
}

TEST_F(PeerTransfer, ReportsProgressAtMostOncePerIntervalAndOnceAtTheEnd) {
  write("src/big", std::string(10000, 'x'));
  CopyOptions chunky;
  chunky.chunk_size = 100;
  chunky.progress_interval = std::chrono::hours(1);
  ASSERT_TRUE(copy(root_ / "src", root_ / "one", chunky));
  EXPECT_EQ(reports_.size(), 1u);

  chunky.progress_interval = std::chrono::milliseconds(0);
  ASSERT_TRUE(copy(root_ / "src", root_ / "many", chunky));
  EXPECT_GT(reports_.size(), 50u);
  for (std::size_t i = 1; i < reports_.size(); ++i)
    EXPECT_GE(reports_[i].bytes, reports_[i - 1].bytes);
}

TEST_F(PeerTransfer, GoesOnPastFilesThatCannotBeWritten) {
  write("src/a.txt", "a");
  write("src/b.txt", "b");
  fs::create_directories(root_ / "dst" / "src" / "a.txt");  // a folder where the file should go

  auto summary = copy(root_ / "src", root_ / "dst");
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->files, 1u);
  EXPECT_EQ(summary->failed, 1u);
  ASSERT_EQ(summary->failures.size(), 1u);
  EXPECT_EQ(summary->failures[0].rfind("无法写入 ", 0), 0u) << summary->failures[0];
  EXPECT_EQ(read(root_ / "dst" / "src" / "b.txt"), "b");
}

TEST_F(PeerTransfer, NeverTruncatesASourceCopiedOntoItself) {
  const fs::path file = write("same.txt", "precious");
  auto summary = copy(file, file);
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->failed, 1u);
  EXPECT_EQ(read(file), "precious");
}

TEST_F(PeerTransfer, FolderCopiedIntoItselfEndsWithoutLooping) {
  write("src/a.txt", "a");
  auto summary = copy(root_ / "src", root_ / "src");
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->files, 1u);
  EXPECT_EQ(read(root_ / "src" / "src" / "a.txt"), "a");
}

TEST_F(PeerTransfer, MissingSourceFailsAsAWholeAndAGoneClientStopsTheCopy) {
  auto missing = copy(root_ / "nothing-here", root_ / "dst");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().rfind("找不到 ", 0), 0u);

  write("src/a.txt", "a");
  auto stopped =
      copy_tree(root_ / "src", root_ / "dst", [](const TransferCounters&) { return false; });
  EXPECT_FALSE(stopped);
}

}  // namespace
}  // namespace sorvane::peer
