// Environment variables and the user's default folder for application data.
#pragma once

#include <optional>

#include "text/native_string.h"

namespace sorvane {

// The value of a defined variable (possibly empty), or nothing when the
// variable is not defined at all.
std::optional<NativeString> environment_variable(NativeStringView name);

// The folder under which applications keep per-user settings, without the
// application's own subfolder: the roaming application data folder on
// Windows, the XDG config home elsewhere. Nothing when it cannot be found.
std::optional<NativePath> user_data_folder();

// `component` appended to `folder` as one path component: a separator goes
// between them unless `folder` already ends with one.
NativePath append_path_component(NativePath folder, NativeStringView component);

}  // namespace sorvane
