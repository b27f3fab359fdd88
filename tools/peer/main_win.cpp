#include <string>
#include <vector>

#include "peer.h"
#include "text/utf8.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) {
    const std::wstring_view wide(argv[i]);
    arguments.push_back(
        sorvane::text::utf16_to_utf8_lossy(std::u16string(wide.begin(), wide.end())));
  }
  return sorvane::peer::peer_main(std::move(arguments));
}
