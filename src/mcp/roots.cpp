#include "mcp/roots.h"

#include <algorithm>
#include <charconv>

#include "text/native_string.h"
#include "text/unicode.h"
#include "text/utf8.h"

namespace sorvane::mcp {
namespace {

// %XX escapes decoded; nothing for a bad escape or a NUL.
std::optional<std::string> percent_decode(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      unsigned byte = 0;
      const char* digits = text.data() + i + 1;
      if (std::from_chars(digits, digits + 2, byte, 16).ptr != digits + 2) return std::nullopt;
      c = static_cast<char>(byte);
      i += 2;
    }
    if (c == '\0') return std::nullopt;
    decoded += c;
  }
  return decoded;
}

bool is_drive_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "C:\...", "\\server\share\..." from a URI's host and decoded path.
std::optional<std::string> windows_path(const std::string& host, std::string path) {
  if (!text::is_valid_utf8(host) || !text::is_valid_utf8(path)) return std::nullopt;
  std::replace(path.begin(), path.end(), '/', '\\');
  if (!host.empty()) {
    if (path.size() < 2) return std::nullopt;  // a server without a share
    return "\\\\" + host + path;
  }
  if (path.starts_with("\\\\")) return path.size() > 2 ? std::optional(path) : std::nullopt;
  // "/C:/..." and the old "/C|/..."
  if (path.size() < 3 || path[0] != '\\' || !is_drive_letter(path[1]) ||
      (path[2] != ':' && path[2] != '|')) {
    return std::nullopt;
  }
  std::string drive = path.substr(1);
  drive[1] = ':';
  if (drive.size() == 2) drive += '\\';
  if (drive[2] != '\\') return std::nullopt;  // "C:name" is relative to a drive's directory
  return drive;
}

std::string joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += ", ";
    text += text::utf8_lossy(item);
  }
  return text;
}

ToolError refused(std::string message) { return {ErrorCode::BadRequest, std::move(message)}; }

}  // namespace

std::optional<std::string> path_from_file_uri(std::string_view uri, PathStyle style) {
  if (uri.size() < 5 || text::to_lower_full(uri.substr(0, 5)) != "file:") return std::nullopt;
  std::string_view rest = uri.substr(5);
  if (rest.find_first_of("?#") != std::string_view::npos) return std::nullopt;
  std::string_view authority;
  if (rest.starts_with("//")) {
    rest.remove_prefix(2);
    const std::size_t slash = rest.find('/');
    authority = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
  }
  auto host = percent_decode(authority);
  auto path = percent_decode(rest);
  if (!host || !path) return std::nullopt;
  if (text::to_lower_full(*host) == "localhost") host->clear();
  if (style == PathStyle::Windows) return windows_path(*host, std::move(*path));
  if (!host->empty() || !path->starts_with('/')) return std::nullopt;
  return path;
}

ResolvePath resolve_on_this_machine() {
  return [](const std::string& path) -> IoResult<std::string> {
    auto resolved = resolve_real_path(argument_to_native(path));
    if (!resolved) return fail(std::move(resolved).error());
    return native_to_argument(*resolved);
  };
}

std::optional<ToolError> check_confined(const std::string& path,
                                        const std::vector<std::string>& roots, PathStyle style,
                                        const ResolvePath& resolve) {
  const std::string shown = text::utf8_lossy(path);
  if (roots.empty()) {
    return refused("no local folder is allowed, so " + shown +
                   " cannot be used: start sorvane-mcp with --local-root DIR to allow a folder "
                   "(any number of times), or use a client that offers its roots");
  }
  auto target = resolve(path);
  if (!target) return refused("cannot check the local path " + shown + ": " + target.error().text);
  for (const std::string& root : roots) {
    auto real_root = resolve(root);
    if (real_root && path_within(*target, *real_root, style)) return std::nullopt;
  }
  std::string message = "the local path " + shown;
  if (*target != path) message += " (which leads to " + text::utf8_lossy(*target) + ")";
  return refused(message + " is outside the allowed folders: " + joined(roots));
}

IsFolder folder_test_on_this_machine() {
  return [](const std::string& path) {
    return check_existing_folder(argument_to_native(path)).has_value();
  };
}

std::optional<std::vector<std::string>> landing_names(std::string_view remote, PathStyle style) {
  // Windows names hold no "\\", so there the one split serves.
  const std::vector<std::string_view> splits = style == PathStyle::Windows
                                                   ? std::vector<std::string_view>{"/\\"}
                                                   : std::vector<std::string_view>{"/", "/\\"};
  std::vector<std::string> names;
  for (const std::string_view separators : splits) {
    std::string_view path = remote;
    while (!path.empty() && separators.find(path.back()) != std::string_view::npos) {
      path.remove_suffix(1);
    }
    const std::size_t last_separator = path.find_last_of(separators);
    const std::string_view name = path.substr(last_separator + 1);  // npos + 1: all of it
    const bool first = last_separator == std::string_view::npos;
    const bool drive = name.size() == 2 && name[1] == ':';
    if (name.empty() || name == "." || name == ".." || (first && (name[0] == '~' || drive))) {
      return std::nullopt;
    }
    if (std::find(names.begin(), names.end(), name) == names.end()) names.emplace_back(name);
  }
  return names;
}

std::optional<ToolError> check_download_confined(const std::string& local, std::string_view remote,
                                                 const std::vector<std::string>& roots,
                                                 PathStyle style, const ResolvePath& resolve,
                                                 const IsFolder& is_folder) {
  if (auto refusal = check_confined(local, roots, style, resolve)) return refusal;
  const auto names = landing_names(remote, style);
  if (!names) {
    if (!is_folder(local)) return std::nullopt;  // the copy lands at `local` itself
    return refused("the remote path " + text::utf8_lossy(remote) +
                   " does not tell what name its copy takes in the folder " +
                   text::utf8_lossy(local) +
                   ": name the destination in full, the folder and the name of the copy");
  }
  // Checked whether or not `local` is a folder: when it is not, the landing
  // path lies under it and passes as it did.
  const char separator = style == PathStyle::Windows ? '\\' : '/';
  std::string folder = local;
  if (folder.empty() || (folder.back() != separator && folder.back() != '/')) folder += separator;
  for (const std::string& name : *names) {
    if (auto refusal = check_confined(folder + name, roots, style, resolve)) return refusal;
  }
  return std::nullopt;
}

void ClientRoots::offered() {
  const std::lock_guard lock(mutex_);
  offered_ = true;
}

void ClientRoots::changed() {
  const std::lock_guard lock(mutex_);
  ++changes_;
}

std::vector<std::string> ClientRoots::current(const Ask& ask) {
  std::uint64_t asked_at = 0;
  {
    const std::lock_guard lock(mutex_);
    if (!offered_) return {};
    if (listed_at_ == changes_) return roots_;
    asked_at = changes_;
  }
  auto listed = ask();
  if (!listed) return {};
  const std::lock_guard lock(mutex_);
  if (changes_ == asked_at) {  // else a newer list is due, and this one is kept no longer
    roots_ = *listed;
    listed_at_ = asked_at;
  }
  return std::move(*listed);
}

}  // namespace sorvane::mcp
