#include <windows.h>

#include "platform/process.h"

namespace sorvane {

void ignore_broken_pipe_signal() {}

void exit_process(std::uint32_t status) { ExitProcess(status); }

}  // namespace sorvane
