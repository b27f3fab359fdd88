// The user this process runs as (Windows).
#pragma once

#include <windows.h>
#include <aclapi.h>

#include <vector>

#include "base/result.h"

namespace sorvane {

// The TOKEN_USER record of this process, in a buffer aligned for the
// pointers inside it; else the system error code.
Result<std::vector<void*>, int> current_token_user();

// Whether the object's owner is this process's user, or the Administrators
// group (the owner an elevated process of the same user gives what it
// makes); an object without an owner belongs to nobody we trust. Else the
// system error code.
Result<bool, int> owned_by_current_user(HANDLE object, SE_OBJECT_TYPE type);

}  // namespace sorvane
