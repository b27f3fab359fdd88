// Windows entry point of sorvane-mcp: arguments as UTF-16 (linked with -municode).
#include <vector>

#include "mcp/run.h"
#include "platform/process.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<sorvane::NativeString> arguments(argv, argv + argc);
  sorvane::exit_process(sorvane::mcp::run(arguments));
}
