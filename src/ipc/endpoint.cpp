#include "ipc/endpoint.h"

#include "platform/absolute_path.h"
#include "platform/env.h"
#include "platform/sha256.h"
#include "text/hex.h"
#include "text/unicode.h"

namespace sorvane {

namespace {

constexpr std::string_view PIPE_NAMESPACE = R"(\\.\pipe\)";
constexpr std::size_t NAME_DIGEST_BYTES = 8;

}  // namespace

NativePath data_dir() {
  if (auto configured = environment_variable(utf8_to_native(DATA_DIR_VARIABLE))) return *configured;
  if (auto folder = user_data_folder()) {
    return append_path_component(std::move(*folder), utf8_to_native(DATA_SUBFOLDER));
  }
  return utf8_to_native(".");
}

std::string pipe_name_from_text(std::string_view path_text) {
  const std::string lowered = text::to_lower_full(path_text);
  const Sha256Digest digest = sha256(as_bytes(lowered));
  return std::string(PIPE_PREFIX) + lower_hex(ByteSpan(digest).first(NAME_DIGEST_BYTES));
}

std::string pipe_name(const NativePath& data_dir) {
  // A path that cannot be made absolute (an empty one) is hashed as it is.
  auto absolute = make_absolute(data_dir);
  const NativePath& path = absolute ? *absolute : data_dir;
  return pipe_name_from_text(native_to_utf8_lossy(path));
}

std::string socket_path(std::string_view pipe_name, const std::optional<std::string>& runtime_dir,
                        const std::optional<std::string>& temp_dir) {
  std::string directory = "/tmp";
  // A relative runtime directory is ignored, as the XDG rules say: it would
  // lead somewhere else from every working directory.
  if (runtime_dir && runtime_dir->starts_with('/')) {
    directory = *runtime_dir;
  } else if (temp_dir && !temp_dir->empty()) {
    directory = *temp_dir;
  }
  std::string_view leaf = pipe_name;
  if (leaf.starts_with(PIPE_NAMESPACE)) leaf.remove_prefix(PIPE_NAMESPACE.size());
  if (!directory.ends_with('/')) directory += '/';
  return directory + std::string(leaf);
}

}  // namespace sorvane
