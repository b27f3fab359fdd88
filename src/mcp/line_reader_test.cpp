#include "mcp/line_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace sorvane::mcp {
namespace {

// Input delivered in reads of at most `chunk` bytes.
class ChunkedInput final : public ByteReader {
 public:
  ChunkedInput(std::string bytes, std::size_t chunk) : bytes_(std::move(bytes)), chunk_(chunk) {}
  IoResult<std::size_t> read_some(MutableByteSpan buffer) override {
    const std::size_t n = std::min({buffer.size(), chunk_, bytes_.size() - position_});
    std::copy_n(bytes_.data() + position_, n, buffer.data());
    position_ += n;
    return n;
  }

 private:
  std::string bytes_;
  std::size_t chunk_;
  std::size_t position_ = 0;
};

// Every line, with "<too long>" for a skipped one.
std::vector<std::string> lines_of(const std::string& input, std::size_t chunk, std::size_t limit) {
  ChunkedInput in(input, chunk);
  LineReader reader(in, limit);
  std::vector<std::string> lines;
  for (;;) {
    auto line = reader.next();
    EXPECT_TRUE(line.has_value());
    if (!line || !line->has_value()) return lines;
    lines.push_back((*line)->too_long ? "<too long>" : (*line)->text);
  }
}

TEST(LineReader, SplitsLinesAndSkipsOversizedOnesWholeWhateverTheReadSizes) {
  struct Case {
    std::string input;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"a\nbb\n", {"a", "bb"}},
      {"a\r\nb", {"a", "b"}},  // CR LF, and a last line without a line feed
      {"\n\n", {"", ""}},
      {"12345678\nx\n", {"12345678", "x"}},     // exactly the limit
      {"123456789\nx\n", {"<too long>", "x"}},  // one byte over
      {"123456789012345678901234567890\n{\"id\":1}\n", {"<too long>", "{\"id\":1}"}},
      {"1234567890123{\"id\":2}", {"<too long>"}},  // nothing past the limit is a message
  };
  for (const Case& c : cases) {
    for (std::size_t chunk : {1, 3, 64 * 1024}) {
      EXPECT_EQ(lines_of(c.input, chunk, 8), c.lines) << c.input << " in reads of " << chunk;
    }
  }
}

TEST(WithUndecodableReplaced, ReplacesOnlyWhatCannotBeDecoded) {
  const std::pair<const char*, const char*> cases[] = {
      {R"("\ud83d")", R"("#")"},             // half an emoji
      {R"("\udE00\uD83D x")", R"("## x")"},  // a low half first, then a high one
      {R"("\ud83d\ude00 \u00e9\n")", R"("\ud83d\ude00 \u00e9\n")"},  // whole ones kept
      {R"("\\ud83d")", R"("\\ud83d")"},  // an escaped backslash, then text
      {"\"a\xff\xc3\"", R"("a##")"},     // bytes that are not UTF-8
  };
  for (const auto& [line, repaired] : cases) {
    EXPECT_EQ(with_undecodable_replaced(line, "#"), repaired) << line;
  }
}

}  // namespace
}  // namespace sorvane::mcp
