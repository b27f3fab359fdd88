#include "platform/process.h"

namespace sorvane {

int posix_exit_status(std::uint32_t status) {
  if (status <= 255) return static_cast<int>(status);
  const auto low = static_cast<int>(status & 0xFFu);
  return low == 0 ? 1 : low;
}

}  // namespace sorvane
