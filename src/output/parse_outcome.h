// What a command-line parser says instead of a parsed record: help, version
// or an error, already rendered. Both programs print it the same way.
#pragma once

#include <cstdint>
#include <string>

namespace sorvane {

struct ParseOutcome {
  std::string text;
  bool to_stdout = false;  // help and version; errors go to standard error
  int status = 2;
};

// Prints the text as the parser rendered it, on the stream it chose; returns
// the outcome's status.
std::uint32_t print_parse_outcome(const ParseOutcome& outcome);

}  // namespace sorvane
