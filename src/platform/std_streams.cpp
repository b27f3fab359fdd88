#include "platform/std_streams.h"

namespace sorvane {

bool is_msys_pty_pipe_name(std::u16string_view pipe_name) {
  const auto last_backslash = pipe_name.rfind(u'\\');
  if (last_backslash != std::u16string_view::npos) pipe_name.remove_prefix(last_backslash + 1);
  const bool msys_or_cygwin = pipe_name.starts_with(u"msys-") || pipe_name.starts_with(u"cygwin-");
  return msys_or_cygwin && pipe_name.find(u"-pty") != std::u16string_view::npos;
}

}  // namespace sorvane
