#include "ipc/endpoint.h"
#include "platform/env.h"

namespace sorvane {

NativePath endpoint_address(std::string_view pipe_name) {
  return socket_path(pipe_name, environment_variable("XDG_RUNTIME_DIR"),
                     environment_variable("TMPDIR"));
}

}  // namespace sorvane
