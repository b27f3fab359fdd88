// POSIX entry point of sorvane-mcp.
#include <vector>

#include "mcp/run.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  sorvane::ignore_broken_pipe_signal();
  std::vector<sorvane::NativeString> arguments(argv, argv + argc);
  sorvane::exit_process(sorvane::mcp::run(arguments));
}
