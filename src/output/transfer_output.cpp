#include "output/transfer_output.h"

#include <array>
#include <charconv>
#include <string_view>

#include "output/inert_text.h"
#include "output/pretty_json.h"
#include "text/unicode.h"

namespace sorvane {
namespace {

constexpr std::array<std::string_view, 4> UNITS = {"KB", "MB", "GB", "TB"};
constexpr double ONE_OVER_1024 = 1.0 / 1024.0;

// One decimal, rounded half-to-even on the exact binary value. to_chars is
// exact and locale-independent on every platform, unlike some C libraries'
// printf.
std::string fixed_one_decimal(double value) {
  std::array<char, 64> buffer{};
  auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::fixed, 1);
  // Cannot overflow: a uint64 divided by 1024 has at most 17 integer digits.
  (void)error;
  return {buffer.data(), end};
}

std::string progress_text(const TransferCounters& counters) {
  return std::to_string(counters.files) + "/" + std::to_string(counters.total_files) + " 个文件，" +
         format_size(counters.bytes) + " / " + format_size(counters.total_bytes);
}

std::string summary_suffix(const TransferSummary& summary) {
  std::string suffix;
  if (summary.skipped > 0) suffix += "，跳过 " + std::to_string(summary.skipped) + " 个";
  if (summary.failed > 0) suffix += "，失败 " + std::to_string(summary.failed) + " 个";
  return suffix;
}

std::string failure_lines(const TransferSummary& summary) {
  std::string lines;
  // Each names a remote file, which may be named anything at all.
  for (const std::string& failure : summary.failures) {
    append_inert(lines, failure);
    lines += '\n';
  }
  return lines;
}

std::string summary_json(const TransferSummary& summary) {
  PrettyJsonWriter json;
  json.begin_object();
  json.key("files");
  json.number(summary.files);
  json.key("bytes");
  json.number(summary.bytes);
  json.key("skipped");
  json.number(summary.skipped);
  json.key("failed");
  json.number(summary.failed);
  json.key("failures");
  json.begin_array();
  for (const std::string& failure : summary.failures) json.string(failure);
  json.end_array();
  json.end_object();
  std::string text = json.take();
  text += '\n';
  return text;
}

}  // namespace

std::string format_size(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  // Multiplying by 1/1024 is exact in binary; the unit test is made on the
  // unrounded value, so 1048575 bytes is "1024.0 KB", not "1.0 MB".
  double value = static_cast<double>(bytes) * ONE_OVER_1024;
  std::size_t unit = 0;
  while (unit + 1 < UNITS.size() && value >= 1024.0) {
    value *= ONE_OVER_1024;
    ++unit;
  }
  return fixed_one_decimal(value) + " " + std::string(UNITS[unit]);
}

std::string summary_sentence(const TransferSummary& summary) {
  return "已传输 " + std::to_string(summary.files) + " 个文件，共 " + format_size(summary.bytes) +
         summary_suffix(summary) + "\n";
}

void draw_progress(const TransferCounters& counters, ProgressLine& line) {
  line.draw(progress_text(counters));
}

IoResult<void> print_summary(const TransferSummary& summary, OutputStreams& streams) {
  if (streams.json) return streams.out.write_all(summary_json(summary));
  if (auto written = streams.out.write_all(summary_sentence(summary)); !written) {
    return written;
  }
  // The failed files are listed whatever the counts say: the list is what
  // the desktop application actually reported.
  if (summary.failures.empty()) return {};
  return streams.err.write_all(failure_lines(summary));
}

}  // namespace sorvane
