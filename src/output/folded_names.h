// Many host names in a few words, as the parallel shells write node sets:
// names that differ only in a trailing number share one range,
// `web-01, web-02, web-03, web-07` → `web-[01-03,07]`.
#pragma once

#include <span>
#include <string>

#include "session/fleet.h"

namespace sorvane {

// The hosts' labels, folded and separated by commas, each fold where its
// first host stands. Only names fold: a host labelled by its ID (its name is
// missing or shared) stands alone. Numbers written with leading zeros fold
// only with numbers of the same width, so that every range reads back to
// exactly the names it stands for. A label holding a comma, a bracket or a
// double quote is quoted (`"a,b"`, a quote within doubled) and stands alone,
// so the list reads back one way. The text is not made inert.
std::string fold_names(std::span<const HostLabel> hosts);

}  // namespace sorvane
