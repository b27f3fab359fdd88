#include "session/identical_groups.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sorvane {
namespace {

using Groups = std::vector<std::vector<std::size_t>>;

Groups group(const std::vector<std::string>& items, bool colliding_digest) {
  return identical_groups(
      items.size(),
      [&](std::size_t i) { return colliding_digest ? std::string("same") : items[i]; },
      [&](std::size_t a, std::size_t b) { return items[a] == items[b]; });
}

TEST(IdenticalGroups, FoldsEqualItemsInTheOrderOfTheirFirstMember) {
  const std::vector<std::string> items = {"b", "a", "b", "c", "a", "b"};
  const Groups expected = {{0, 2, 5}, {1, 4}, {3}};
  // A digest that tells nothing apart must not fold different items.
  for (const bool colliding : {false, true}) {
    EXPECT_EQ(group(items, colliding), expected) << "colliding digest: " << colliding;
  }
  EXPECT_TRUE(group({}, false).empty());
}

}  // namespace
}  // namespace sorvane
