#include "session/identical_groups.h"

#include <unordered_map>

namespace sorvane {

std::vector<std::vector<std::size_t>> identical_groups(
    std::size_t count, const std::function<std::string(std::size_t)>& digest,
    const std::function<bool(std::size_t, std::size_t)>& same) {
  std::vector<std::vector<std::size_t>> groups;
  // For each digest, the groups whose members have it.
  std::unordered_map<std::string, std::vector<std::size_t>> by_digest;
  for (std::size_t item = 0; item < count; ++item) {
    std::vector<std::size_t>& candidates = by_digest[digest(item)];
    bool placed = false;
    for (const std::size_t group : candidates) {
      if (same(groups[group].front(), item)) {
        groups[group].push_back(item);
        placed = true;
        break;
      }
    }
    if (placed) continue;
    candidates.push_back(groups.size());
    groups.push_back({item});
  }
  return groups;
}

}  // namespace sorvane
