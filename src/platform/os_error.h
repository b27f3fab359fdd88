// System error codes as I/O errors.
#pragma once

#include "base/io.h"

namespace sorvane {

// The text of a system error: the system's message, " (os error N)".
// Implemented per platform (strerror / FormatMessageW).
IoError os_error(int code);

}  // namespace sorvane
