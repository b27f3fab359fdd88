#include <csignal>
#include <cstdlib>

#include "platform/process.h"

namespace sorvane {

void ignore_broken_pipe_signal() { std::signal(SIGPIPE, SIG_IGN); }

void exit_process(std::uint32_t status) { std::exit(posix_exit_status(status)); }

void end_process_now(std::uint32_t status) { std::_Exit(posix_exit_status(status)); }

}  // namespace sorvane
