// Windows entry point: arguments as UTF-16 (linked with -municode), and the
// exit status with all 32 bits.
#include <vector>

#include "cli/run.h"
#include "platform/process.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<sorvane::NativeString> arguments(argv, argv + argc);
  sorvane::exit_process(sorvane::run(arguments));
}
