// The user this process runs as (Windows).
#pragma once

#include <vector>

#include "base/result.h"

namespace sorvane {

// The TOKEN_USER record of this process, in a buffer aligned for the
// pointers inside it; else the system error code.
Result<std::vector<void*>, int> current_token_user();

}  // namespace sorvane
