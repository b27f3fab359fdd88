#include "platform/absolute_path.h"

#include <vector>

namespace sorvane {

namespace {

// Appends the components of `path` to `parts`, folding "." and "..".
void fold_components(std::string_view path, std::vector<std::string_view>& parts) {
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view part = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
}

}  // namespace

IoResult<std::string> make_absolute_posix(std::string_view path, std::string_view cwd) {
  if (path.empty()) return fail(IoError{IoErrorKind::InvalidInput, std::string(EMPTY_PATH_TEXT)});
  std::vector<std::string_view> parts;
  if (path.front() != '/') fold_components(cwd, parts);
  fold_components(path, parts);
  if (parts.empty()) return std::string("/");
  std::string result;
  for (const std::string_view part : parts) {
    result += '/';
    result += part;
  }
  return result;
}

}  // namespace sorvane
