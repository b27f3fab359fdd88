#include "platform/file_input.h"

namespace sorvane {

IoResult<std::string> read_file(const NativePath& path, std::size_t limit) {
  auto file = open_for_reading(path);
  if (!file) return fail(std::move(file).error());
  return read_to_end(**file, limit);
}

}  // namespace sorvane
