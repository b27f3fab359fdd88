#include <cstring>

#include "platform/os_error.h"

namespace sorvane {

IoError os_error(int code) {
  IoErrorKind kind = IoErrorKind::Os;
  if (code == EINTR) kind = IoErrorKind::Interrupted;
  if (code == EPIPE) kind = IoErrorKind::BrokenPipe;
  return {kind, std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")"};
}

}  // namespace sorvane
