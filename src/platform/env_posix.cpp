#include <cstdlib>
#include <string>

#include "platform/env.h"

namespace sorvane {

std::optional<NativeString> environment_variable(NativeStringView name) {
  const char* value = std::getenv(NativeString(name).c_str());
  if (value == nullptr) return std::nullopt;
  return NativeString(value);
}

namespace {

std::optional<NativePath> home_relative(std::string_view below_home) {
  auto home = environment_variable("HOME");
  if (!home || home->empty()) return std::nullopt;
  return append_path_component(std::move(*home), below_home);
}

}  // namespace

#ifdef __APPLE__

std::optional<NativePath> user_data_folder() {
  return home_relative("Library/Application Support");
}

#else

std::optional<NativePath> user_data_folder() {
  // The XDG rules ignore a relative XDG_CONFIG_HOME.
  auto config_home = environment_variable("XDG_CONFIG_HOME");
  if (config_home && config_home->starts_with('/')) return config_home;
  return home_relative(".config");
}

#endif

NativePath append_path_component(NativePath folder, NativeStringView component) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  folder += component;
  return folder;
}

}  // namespace sorvane
