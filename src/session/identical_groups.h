// Folding equal results into groups, as gathered output shows them: the
// groups come in the order of their first member, so the folding does not
// depend on the order in which hosts ended.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace sorvane {

// The indices 0..count-1 in groups of equal items. `digest` sorts items
// into candidates cheaply (a hash of what makes them equal); `same` is the
// full comparison, asked only of items whose digests match, so that equal
// digests of different items never fold them.
std::vector<std::vector<std::size_t>> identical_groups(
    std::size_t count, const std::function<std::string(std::size_t)>& digest,
    const std::function<bool(std::size_t, std::size_t)>& same);

}  // namespace sorvane
