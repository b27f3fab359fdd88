#pragma once

#include <string>
#include <vector>

namespace sorvane::peer {

// The whole program; `arguments` in UTF-8, the program name first.
int peer_main(std::vector<std::string> arguments);

}  // namespace sorvane::peer
