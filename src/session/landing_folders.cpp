#include "session/landing_folders.h"

#include <algorithm>
#include <map>

#include "platform/folders.h"
#include "platform/real_path.h"
#include "text/unicode.h"
#include "text/utf8.h"

namespace sorvane {
namespace {

constexpr std::size_t LONGEST_NAME = 255;  // bytes; no system takes a longer component
constexpr std::string_view FORBIDDEN = "/\\<>:\"|?*";
constexpr char32_t LAST_C0 = 0x1F;
constexpr char32_t DELETE = 0x7F;
constexpr char32_t LAST_C1 = 0x9F;

bool is_control(char32_t c) { return c <= LAST_C0 || (c >= DELETE && c <= LAST_C1); }

// Format characters reorder or hide what a listing shows. A character that
// normalization changes or moves lets two spellings of one name (NFC, NFD)
// make two folders here that macOS takes for one; without any, a name is its
// own only spelling.
bool holds_forbidden_character(std::string_view name) {
  for (std::size_t at = 0; at < name.size();) {
    const auto decoded = text::decode_utf8_char(name.substr(at));
    if (is_control(decoded.code_point) ||
        (decoded.code_point < 0x80 && FORBIDDEN.find(name[at]) != std::string_view::npos) ||
        text::is_format_or_separator(decoded.code_point) ||
        !text::is_canonically_stable(decoded.code_point)) {
      return true;
    }
    at += decoded.length;
  }
  return false;
}

// Two folders are one where case is not told apart.
std::string folded(std::string_view name) { return text::to_lower_full(name); }

}  // namespace

bool is_safe_folder_name(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.size() > LONGEST_NAME) return false;
  if (!text::is_valid_utf8(name) || holds_forbidden_character(name)) return false;
  if (name.back() == '.' || name.back() == ' ') return false;
  return !is_windows_device_name(name);
}

std::vector<Result<std::string, ToolError>> landing_folders(std::span<const HostLabel> hosts) {
  std::vector<bool> by_name(hosts.size());
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    by_name[i] = hosts[i].name && is_safe_folder_name(*hosts[i].name);
  }
  auto folder = [&](std::size_t i) { return by_name[i] ? *hosts[i].name : hosts[i].id; };
  // A name that meets another folder gives way to the ID, which may in turn
  // meet a third host's name: repeat until nothing changes (each host gives
  // way at most once).
  for (bool changed = true; changed;) {
    changed = false;
    std::map<std::string, int> uses;
    for (std::size_t i = 0; i < hosts.size(); ++i) ++uses[folded(folder(i))];
    for (std::size_t i = 0; i < hosts.size(); ++i) {
      if (!by_name[i] || uses[folded(folder(i))] == 1) continue;
      by_name[i] = false;
      changed = true;
    }
  }
  std::vector<Result<std::string, ToolError>> folders;
  std::map<std::string, std::size_t> taken;
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    std::string name = folder(i);
    if (!is_safe_folder_name(name)) {
      folders.emplace_back(fail(ToolError{ErrorCode::BadRequest,
                                          "主机 ID「" + hosts[i].id + "」不能用作下载的文件夹名"}));
    } else if (!taken.emplace(folded(name), i).second) {
      // IDs that differ only in case would share a folder: the first keeps it.
      folders.emplace_back(fail(ToolError{
          ErrorCode::BadRequest, "主机 ID「" + hosts[i].id + "」与另一台主机的下载文件夹重名"}));
    } else {
      folders.emplace_back(std::move(name));
    }
  }
  return folders;
}

namespace {

Result<NativePath, ToolError> make_landing_folder(const NativePath& local,
                                                  std::string_view folder) {
  NativePath path = local;
  const auto separator =
      static_cast<NativeChar>(NATIVE_PATH_STYLE == PathStyle::Windows ? '\\' : '/');
  if (path.empty() || path.back() != separator) path += separator;
  path += utf8_to_native(folder);
  if (auto made = create_folders(path); !made) {
    return fail(ToolError{ErrorCode::BadRequest, "无法创建文件夹 " + native_to_utf8_lossy(path) +
                                                     std::string(messages::FULL_WIDTH_COLON) +
                                                     made.error().text});
  }
  return path;
}

}  // namespace

DownloadFromHosts::LocalFor landing_folder_for(std::span<const HostLabel> hosts, NativePath local) {
  std::map<std::string, Result<std::string, ToolError>> folders;
  auto named = landing_folders(hosts);
  for (std::size_t i = 0; i < hosts.size(); ++i) folders.emplace(hosts[i].id, std::move(named[i]));
  return [folders = std::move(folders),
          local = std::move(local)](const HostLabel& host) -> Result<NativePath, ToolError> {
    const auto& folder = folders.at(host.id);
    if (!folder) return fail(folder.error());
    return make_landing_folder(local, *folder);
  };
}

}  // namespace sorvane
