#include "output/folded_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sorvane {
namespace {

// A label starting with '#' stands for a host shown by its ID (its name
// shared or missing), which never folds.
std::string folded(const std::vector<std::string>& labels) {
  std::vector<HostLabel> hosts;
  for (const std::string& label : labels) {
    if (label.front() == '#') {
      hosts.push_back({label, std::string("shared-01"), label});
    } else {
      hosts.push_back({"id-" + label, label, label});
    }
  }
  return fold_names(hosts);
}

TEST(FoldedNames, NumberedNamesShareRangesThatReadBackToThem) {
  const struct {
    std::vector<std::string> labels;
    std::string folded;
  } cases[] = {
      {{"web-01", "web-02", "web-03", "web-07"}, "web-[01-03,07]"},
      {{"web-07", "web-02", "web-01"}, "web-[01-02,07]"},  // sorted within the fold
      {{"web-01"}, "web-01"},
      {{"db", "web-1", "cache", "web-2"}, "db,web-[1-2],cache"},  // where the first host stands
      {{"web-8", "web-9", "web-10", "web-11"}, "web-[8-11]"},
      // Widths apart: 01 is not 1, and 010 is not 10.
      {{"web-1", "web-01", "web-2", "web-02"}, "web-[1-2],web-[01-02]"},
      {{"n-010", "n-10", "n-011"}, "n-[010-011],n-10"},
      // ... but 10 written without padding is as wide as 09.
      {{"web-09", "web-10"}, "web-[09-10]"},
      {{"0", "1", "2"}, "[0-2]"},
      {{"a1b", "a2b"}, "a1b,a2b"},  // only a trailing number folds
      {{"x-1234567890123456789", "x-1234567890123456790"},
       "x-1234567890123456789,x-1234567890123456790"},  // too long to be a number
      {{"#a1b2c3d4e5f60718", "#a1b2c3d4e5f60719", "web-1", "web-2"},
       "#a1b2c3d4e5f60718,#a1b2c3d4e5f60719,web-[1-2]"},
      // What the list is written with is quoted, and does not fold.
      {{"a,b", "c"}, "\"a,b\",c"},
      {{"a", "b,c"}, "a,\"b,c\""},
      {{"x[1]", "x[2]", "q\"1", "q\"2"}, "\"x[1]\",\"x[2]\",\"q\"\"1\",\"q\"\"2\""},
  };
  for (const auto& c : cases) EXPECT_EQ(folded(c.labels), c.folded);
}

}  // namespace
}  // namespace sorvane
