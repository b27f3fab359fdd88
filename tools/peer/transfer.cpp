#include "transfer.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <system_error>
#include <vector>

namespace sorvane::peer {
namespace {

using Clock = std::chrono::steady_clock;

struct PlannedFile {
  fs::path from;
  fs::path to;
  std::uint64_t size = 0;
};

// Everything to do, found before a single byte is copied, so that totals
// are known and a destination inside the source cannot make the walk loop.
struct Plan {
  std::vector<fs::path> directories;
  std::vector<PlannedFile> files;
  std::uint64_t skipped = 0;
  std::uint64_t failed = 0;
  std::vector<std::string> failures;

  void fail_with(std::string text) {
    ++failed;
    failures.push_back(std::move(text));
  }
};

std::string reason_text(const std::error_code& error) { return error.message(); }

std::string last_errno_text() {
  return errno != 0 ? std::error_code(errno, std::generic_category()).message() : "unknown error";
}

void plan_file(const fs::path& from, const fs::path& to, Plan& plan) {
  std::error_code error;
  const auto size = fs::file_size(from, error);
  if (error) {
    plan.fail_with("无法读取 " + path_to_utf8(from) + "：" + reason_text(error));
    return;
  }
  plan.files.push_back({from, to, size});
}

std::vector<fs::directory_entry> sorted_entries(const fs::path& dir, Plan& plan) {
  std::vector<fs::directory_entry> entries;
  std::error_code error;
  fs::directory_iterator it(dir, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) entries.push_back(*it);
  if (error) plan.fail_with("无法读取 " + path_to_utf8(dir) + "：" + reason_text(error));
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
  return entries;
}

void plan_directory(const fs::path& from, const fs::path& to, Plan& plan) {
  plan.directories.push_back(to);
  for (const auto& entry : sorted_entries(from, plan)) {
    const fs::path target = to / entry.path().filename();
    std::error_code error;
    const auto own = entry.symlink_status(error);
    if (fs::is_directory(own)) {
      plan_directory(entry.path(), target, plan);
      continue;
    }
    // Links to files are copied as files; links to folders are not followed,
    // so a link cycle cannot make the copy endless.
    const auto followed = fs::is_symlink(own) ? entry.status(error) : own;
    if (fs::is_regular_file(followed)) {
      plan_file(entry.path(), target, plan);
    } else if (fs::is_directory(followed) || fs::exists(followed)) {
      ++plan.skipped;  // folder links, devices, sockets, pipes
    } else {
      plan.fail_with(
          "无法读取 " + path_to_utf8(entry.path()) + "：" +
          reason_text(error ? error : std::make_error_code(std::errc::no_such_file_or_directory)));
    }
  }
}

class Progress {
 public:
  Progress(const ProgressSink& sink, std::chrono::milliseconds interval, const Plan& plan)
      : sink_(sink), interval_(interval) {
    counters_.total_files = plan.files.size();
    for (const auto& file : plan.files) counters_.total_bytes += file.size;
  }

  bool add_bytes(std::uint64_t bytes) {
    counters_.bytes += bytes;
    return maybe_report();
  }
  bool file_done(bool copied) {
    if (copied) ++counters_.files;
    return maybe_report();
  }
  bool finish(const TransferSummary& summary) {
    counters_.files = summary.files;
    counters_.bytes = summary.bytes;
    return sink_(counters_);
  }

 private:
  bool maybe_report() {
    const auto now = Clock::now();
    if (now - last_ < interval_) return true;
    last_ = now;
    return sink_(counters_);
  }

  const ProgressSink& sink_;
  std::chrono::milliseconds interval_;
  TransferCounters counters_;
  Clock::time_point last_ = Clock::now();
};

enum class FileOutcome { Copied, Failed, Stopped };

FileOutcome copy_file(const PlannedFile& file, Plan& plan, Progress& progress,
                      std::vector<char>& buffer, std::uint64_t& copied_bytes) {
  std::error_code error;
  if (fs::exists(file.to, error) && fs::equivalent(file.from, file.to, error)) {
    // Opening the target would truncate the source itself.
    plan.fail_with("无法写入 " + path_to_utf8(file.to) + "：源文件和目标文件是同一个文件");
    return FileOutcome::Failed;
  }
  errno = 0;
  std::ifstream in(file.from, std::ios::binary);
  if (!in) {
    plan.fail_with("无法读取 " + path_to_utf8(file.from) + "：" + last_errno_text());
    return FileOutcome::Failed;
  }
  errno = 0;
  std::ofstream out(file.to, std::ios::binary | std::ios::trunc);
  if (!out) {
    plan.fail_with("无法写入 " + path_to_utf8(file.to) + "：" + last_errno_text());
    return FileOutcome::Failed;
  }
  std::uint64_t written = 0;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0) break;
    if (!out.write(buffer.data(), static_cast<std::streamsize>(got))) break;
    written += got;
    if (!progress.add_bytes(got)) return FileOutcome::Stopped;
  }
  if (in.bad()) {
    plan.fail_with("无法读取 " + path_to_utf8(file.from) + "：" + last_errno_text());
    return FileOutcome::Failed;
  }
  if (!out.flush() || (out.close(), out.fail())) {
    plan.fail_with("无法写入 " + path_to_utf8(file.to) + "：" + last_errno_text());
    return FileOutcome::Failed;
  }
  copied_bytes += written;
  return FileOutcome::Copied;
}

void create_directories(Plan& plan) {
  for (const auto& dir : plan.directories) {
    std::error_code error;
    fs::create_directories(dir, error);
    if (error)
      plan.failures.push_back("无法创建文件夹 " + path_to_utf8(dir) + "：" + reason_text(error));
  }
}

}  // namespace

fs::path path_from_utf8(std::string_view utf8) { return {std::u8string(utf8.begin(), utf8.end())}; }

std::string path_to_utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

fs::path expand_home(std::string_view remote, const fs::path& home) {
  if (remote == "~") return home;
  if (remote.size() >= 2 && remote[0] == '~' &&
      fs::path(std::string(1, remote[1])).has_root_directory()) {
    return home / path_from_utf8(remote.substr(2));
  }
  return path_from_utf8(remote);
}

fs::path copy_target(const fs::path& source, const fs::path& destination) {
  std::error_code error;
  if (!fs::is_directory(destination, error)) return destination;
  // Named after the folder the path stands for: "dir/." and "dir/" are
  // "dir", and "." or ".." the name of the folder they lead to, never a
  // step out of `destination`.
  const fs::path normal = fs::absolute(source, error).lexically_normal();
  fs::path name = normal.filename();
  if (name.empty()) name = normal.parent_path().filename();  // "dir/"
  return destination / name;
}

Result<TransferSummary, std::string> copy_tree(const fs::path& source, const fs::path& destination,
                                               const ProgressSink& progress_sink,
                                               const CopyOptions& options) {
  std::error_code error;
  const auto status = fs::status(source, error);
  if (!fs::exists(status)) return fail("找不到 " + path_to_utf8(source));

  const fs::path target = copy_target(source, destination);
  Plan plan;
  if (fs::is_directory(status)) {
    plan_directory(source, target, plan);
  } else if (fs::is_regular_file(status)) {
    plan_file(source, target, plan);
  } else {
    ++plan.skipped;
  }
  create_directories(plan);

  Progress progress(progress_sink, options.progress_interval, plan);
  std::vector<char> buffer(options.chunk_size);
  TransferSummary summary;
  for (const auto& file : plan.files) {
    const auto outcome = copy_file(file, plan, progress, buffer, summary.bytes);
    if (outcome == FileOutcome::Stopped) return fail(std::string("the client went away"));
    if (outcome == FileOutcome::Copied) ++summary.files;
    if (!progress.file_done(outcome == FileOutcome::Copied))
      return fail(std::string("the client went away"));
  }
  summary.skipped = plan.skipped;
  summary.failed = plan.failed;
  summary.failures = std::move(plan.failures);
  if (!progress.finish(summary)) return fail(std::string("the client went away"));
  return summary;
}

}  // namespace sorvane::peer
