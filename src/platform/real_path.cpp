#include "platform/real_path.h"

#include <algorithm>
#include <array>
#include <deque>
#include <optional>
#include <vector>

#include "text/unicode.h"

namespace sorvane {
namespace {

// As many links as Linux follows in one path before it calls it a loop.
constexpr int MAX_LINKS_FOLLOWED = 40;

// Views of the process that opens them: the desktop application, which
// opens a transfer's local path, would find something else there than the
// process that checks it.
constexpr std::array<std::string_view, 6> PER_PROCESS_VIEWS = {
    "/proc", "/dev/fd", "/dev/stdin", "/dev/stdout", "/dev/stderr", "/dev/tty"};

// Names that Windows opens as devices in any folder, whatever follows a dot.
constexpr std::array<std::string_view, 6> DEVICE_NAMES = {"con", "prn",    "aux",
                                                          "nul", "conin$", "conout$"};

struct SplitPath {
  std::string prefix;  // "/", "C:\" or "\\server\share\"
  std::vector<std::string> parts;
};

bool is_separator(char c, PathStyle style) {
  return c == '/' || (style == PathStyle::Windows && c == '\\');
}

char separator(PathStyle style) { return style == PathStyle::Windows ? '\\' : '/'; }

bool is_drive_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::vector<std::string> split_parts(std::string_view text, PathStyle style) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || is_separator(text[i], style)) {
      if (i > start) parts.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

// "X:\rest" with its prefix; nothing for another form.
std::optional<SplitPath> split_drive(std::string_view path) {
  if (path.size() < 3 || !is_drive_letter(path[0]) || path[1] != ':' ||
      !is_separator(path[2], PathStyle::Windows)) {
    return std::nullopt;
  }
  return SplitPath{std::string(path.substr(0, 2)) + '\\',
                   split_parts(path.substr(3), PathStyle::Windows)};
}

// "server\share\rest", after the two leading separators.
std::optional<SplitPath> split_unc(std::string_view path) {
  std::vector<std::string> parts = split_parts(path, PathStyle::Windows);
  if (parts.size() < 2 || parts[0] == "." || parts[0] == "?") return std::nullopt;
  SplitPath split{"\\\\" + parts[0] + '\\' + parts[1] + '\\', {}};
  split.parts.assign(parts.begin() + 2, parts.end());
  return split;
}

std::optional<SplitPath> split_windows(std::string_view path) {
  const auto sep = [&](std::size_t i) { return is_separator(path[i], PathStyle::Windows); };
  if (path.size() >= 4 && sep(0) && sep(1) && path[2] == '?' && sep(3)) {
    const std::string_view verbatim = path.substr(4);
    if (verbatim.size() >= 4 && text::to_lower_full(verbatim.substr(0, 3)) == "unc" &&
        is_separator(verbatim[3], PathStyle::Windows)) {
      return split_unc(verbatim.substr(4));
    }
    return split_drive(verbatim);
  }
  if (path.size() >= 2 && sep(0) && sep(1)) return split_unc(path.substr(2));
  return split_drive(path);
}

std::optional<SplitPath> split_absolute(std::string_view path, PathStyle style) {
  if (style == PathStyle::Windows) return split_windows(path);
  if (path.empty() || path.front() != '/') return std::nullopt;
  return SplitPath{"/", split_parts(path, style)};
}

bool is_relative(std::string_view path, PathStyle style) {
  if (path.empty() || is_separator(path.front(), style)) return false;
  return style == PathStyle::Posix || path.find(':') == std::string_view::npos;
}

std::string join(const SplitPath& split, PathStyle style) {
  std::string joined = split.prefix;
  for (std::size_t i = 0; i < split.parts.size(); ++i) {
    if (i > 0) joined += separator(style);
    joined += split.parts[i];
  }
  return joined;
}

IoError cannot_resolve(std::string_view path, std::string_view why) {
  return {IoErrorKind::InvalidInput,
          "cannot resolve " + std::string(path) + ": " + std::string(why)};
}

// Case as Windows file systems see it: not at all.
std::string comparable(std::string_view name, PathStyle style) {
  return style == PathStyle::Windows ? text::to_lower_full(name) : std::string(name);
}

bool is_numbered_device(std::string_view base) {
  if (base.size() < 4 || (base.substr(0, 3) != "com" && base.substr(0, 3) != "lpt")) return false;
  const std::string_view number = base.substr(3);
  // "1" to "9", "0", and the superscripts one, two and three.
  return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
         number == "\xC2\xB2" || number == "\xC2\xB3";
}

}  // namespace

bool is_windows_device_name(std::string_view name) {
  std::string base = text::to_lower_full(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  return is_numbered_device(base) ||
         std::find(DEVICE_NAMES.begin(), DEVICE_NAMES.end(), base) != DEVICE_NAMES.end();
}

namespace {

std::string quoted(std::string_view name) {
  std::string text(1, '"');
  text += name;
  text += '"';
  return text;
}

// Why the walk may not pass `here`, whose last component is `name`; nothing
// when it may.
std::optional<std::string> forbidden_step(const std::string& here, std::string_view name,
                                          PathStyle style) {
  if (style == PathStyle::Posix) {
    for (const std::string_view view : PER_PROCESS_VIEWS) {
      if (path_within(here, view, style)) {
        return std::string(view) +
               " is a per-process view: each process that opens it sees its own";
      }
    }
    return std::nullopt;
  }
  if (name.find(':') != std::string_view::npos) {
    return quoted(name) + " names an alternate data stream";
  }
  if (is_windows_device_name(name)) return quoted(name) + " names a device";
  return std::nullopt;
}

}  // namespace

IoResult<std::string> resolve_links(std::string_view path, PathStyle style,
                                    PathInspector& inspector) {
  const auto split = split_absolute(path, style);
  if (!split) return fail(cannot_resolve(path, "not an absolute path of a supported form"));
  SplitPath done{split->prefix, {}};
  std::deque<std::string> pending(split->parts.begin(), split->parts.end());
  int links_followed = 0;
  bool missing = false;  // from here on nothing exists, so nothing is a link
  while (!pending.empty()) {
    std::string part = std::move(pending.front());
    pending.pop_front();
    if (part == ".") continue;
    if (part == "..") {
      if (missing) return fail(cannot_resolve(path, "\"..\" after a folder that does not exist"));
      if (!done.parts.empty()) done.parts.pop_back();
      continue;
    }
    done.parts.push_back(std::move(part));
    const std::string here = join(done, style);
    if (auto why = forbidden_step(here, done.parts.back(), style)) {
      return fail(cannot_resolve(path, *why));
    }
    if (missing) continue;
    PathEntry entry = inspector.inspect(here);
    switch (entry.kind) {
      case PathEntry::Kind::Missing:
        missing = true;
        break;
      case PathEntry::Kind::Present:
        break;
      case PathEntry::Kind::Unreadable:
        return fail(cannot_resolve(here, entry.detail));
      case PathEntry::Kind::PerProcess:
        return fail(cannot_resolve(path, here + " is a per-process view (" + entry.detail + ")"));
      case PathEntry::Kind::Link: {
        if (++links_followed > MAX_LINKS_FOLLOWED) {
          return fail(cannot_resolve(path, "too many levels of symbolic links"));
        }
        done.parts.pop_back();
        std::vector<std::string> target_parts;
        if (auto target = split_absolute(entry.detail, style)) {
          done = SplitPath{std::move(target->prefix), {}};
          target_parts = std::move(target->parts);
        } else if (is_relative(entry.detail, style)) {
          target_parts = split_parts(entry.detail, style);
        } else {
          return fail(cannot_resolve(here, "a link to an unsupported form: " + entry.detail));
        }
        pending.insert(pending.begin(), target_parts.begin(), target_parts.end());
        break;
      }
    }
  }
  return join(done, style);
}

bool path_within(std::string_view path, std::string_view root, PathStyle style) {
  const auto inner = split_absolute(path, style);
  const auto outer = split_absolute(root, style);
  if (!inner || !outer || inner->parts.size() < outer->parts.size()) return false;
  if (comparable(inner->prefix, style) != comparable(outer->prefix, style)) return false;
  for (std::size_t i = 0; i < outer->parts.size(); ++i) {
    if (comparable(inner->parts[i], style) != comparable(outer->parts[i], style)) return false;
  }
  return true;
}

}  // namespace sorvane
