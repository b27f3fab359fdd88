// Process-wide setup and the end of the process.
#pragma once

#include <cstdint>

namespace sorvane {

// A closed reader of a pipe must show up as a write error (EPIPE), not kill
// the process; no-op where there is no SIGPIPE.
void ignore_broken_pipe_signal();

// Ends the process with `status`. Windows keeps all 32 bits; POSIX keeps
// what posix_exit_status makes of it.
[[noreturn]] void exit_process(std::uint32_t status);

// Ends the process at once, without running destructors or exit handlers,
// for a process whose other threads may still be blocked in system calls.
[[noreturn]] void end_process_now(std::uint32_t status);

// POSIX exit statuses are 8 bits: 0-255 pass unchanged; other values keep
// their low 8 bits, except that a value whose low bits are all zero becomes 1
// so that a failure never reads as success (256 -> 1, 300 -> 44).
int posix_exit_status(std::uint32_t status);

}  // namespace sorvane
