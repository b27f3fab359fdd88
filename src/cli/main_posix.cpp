// POSIX entry point: arguments are bytes, exit statuses 8 bits.
#include <vector>

#include "cli/run.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  sorvane::ignore_broken_pipe_signal();
  std::vector<sorvane::NativeString> arguments(argv, argv + argc);
  sorvane::exit_process(sorvane::run(arguments));
}
