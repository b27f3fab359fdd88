#include <windows.h>

#include "platform/process.h"

namespace sorvane {

void ignore_broken_pipe_signal() {}

void exit_process(std::uint32_t status) { ExitProcess(status); }

// ExitProcess ends the other threads first, whatever they are blocked in.
void end_process_now(std::uint32_t status) { ExitProcess(status); }

}  // namespace sorvane
