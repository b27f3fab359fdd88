#include "ipc/endpoint.h"

namespace sorvane {

NativePath endpoint_address(std::string_view pipe_name) { return utf8_to_native(pipe_name); }

}  // namespace sorvane
