// A remote output stream kept in memory up to a limit, for results that
// carry the output as a value (the JSON of exec on several hosts). The rest
// is read and dropped, and that is recorded.
#pragma once

#include <cstdint>
#include <string>

#include "base/io.h"

namespace sorvane {

inline constexpr std::uint64_t DEFAULT_MAX_OUTPUT = std::uint64_t{1024} * 1024;

class CappedOutput {
 public:
  explicit CappedOutput(std::uint64_t limit) : limit_(limit) {}

  void append(ByteSpan chunk);

  // The bytes kept, as they came (not necessarily UTF-8).
  const std::string& bytes() const { return bytes_; }
  bool truncated() const { return truncated_; }

 private:
  std::uint64_t limit_;
  std::string bytes_;
  bool truncated_ = false;
};

}  // namespace sorvane
