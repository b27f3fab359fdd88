#include "script.h"

#include <charconv>
#include <chrono>
#include <thread>

#include "hosts.h"
#include "ipc/frame.h"
#include "text/hex.h"
#include "wire.h"

namespace sorvane::peer {
namespace {

template <class T>
bool parse_number(std::string_view text, T& out, int base = 10) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
  return ec == std::errc() && end == text.data() + text.size();
}

// Splits "word rest" at the first space; the rest keeps every later space.
std::pair<std::string_view, std::string_view> split_word(std::string_view line) {
  auto space = line.find(' ');
  if (space == std::string_view::npos) return {line, {}};
  return {line.substr(0, space), line.substr(space + 1)};
}

Result<Step, std::string> parse_payload_step(Step::Op op, std::string_view rest) {
  auto bytes = unescape(rest);
  if (!bytes) return fail(std::move(bytes).error());
  Step step;
  step.op = op;
  step.bytes = std::move(*bytes);
  return step;
}

Result<Step, std::string> parse_frame_step(std::string_view rest) {
  auto [kind_text, after_kind] = split_word(rest);
  auto [length_text, payload_text] = split_word(after_kind);
  if (kind_text.starts_with("0x") || kind_text.starts_with("0X")) kind_text.remove_prefix(2);
  Step step;
  step.op = Step::Op::Frame;
  if (!parse_number(kind_text, step.kind, 16)) return fail(std::string("frame: bad kind byte"));
  auto payload = unescape(payload_text);
  if (!payload) return fail(std::move(payload).error());
  step.bytes = std::move(*payload);
  if (length_text == "-") {
    if (step.bytes.size() > UINT32_MAX) return fail(std::string("frame: payload too long"));
    step.length = static_cast<std::uint32_t>(step.bytes.size());
  } else if (!parse_number(length_text, step.length)) {
    return fail(std::string("frame: bad length"));
  }
  return step;
}

Result<Step, std::string> parse_step(std::string_view keyword, std::string_view rest) {
  using Op = Step::Op;
  Step step;
  if (keyword == "json") {
    step.op = Op::JsonReply;
    step.bytes = std::string(rest);
    return step;
  }
  if (keyword == "stdout") return parse_payload_step(Op::Stdout, rest);
  if (keyword == "stderr") return parse_payload_step(Op::Stderr, rest);
  if (keyword == "raw") return parse_payload_step(Op::Raw, rest);
  if (keyword == "frame") return parse_frame_step(rest);
  if (keyword == "close" || keyword == "hold") {
    if (!rest.empty()) return fail(std::string(keyword) + " takes no argument");
    step.op = keyword == "close" ? Op::Close : Op::Hold;
    return step;
  }
  if (keyword == "pause" || keyword == "hosts-repeat") {
    step.op = keyword == "pause" ? Op::Pause : Op::HostsRepeat;
    if (!parse_number(rest, step.size)) return fail(std::string(keyword) + ": expected a number");
    return step;
  }
  if (keyword == "stdout-repeat") {
    step.op = Op::StdoutRepeat;
    auto [size_text, count_text] = split_word(rest);
    if (!parse_number(size_text, step.size) || !parse_number(count_text, step.count)) {
      return fail(std::string("stdout-repeat: expected <size> <count>"));
    }
    if (step.size > MAX_FRAME_LEN) return fail(std::string("stdout-repeat: size over 16 MiB"));
    return step;
  }
  return fail("unknown step '" + std::string(keyword) + "'");
}

// A recognisable, printable pattern: lines of 64 characters.
std::vector<std::uint8_t> pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = (i % 64 == 63) ? '\n' : static_cast<std::uint8_t>('a' + i % 26);
  }
  return bytes;
}

IoResult<void> stdout_repeat(ByteWriter& writer, std::uint64_t size, std::uint64_t count) {
  const auto buffer = pattern(size);
  for (std::uint64_t i = 0; i < count; ++i) {
    if (auto sent = write_frame(writer, FrameKind::Stdout, buffer); !sent) return sent;
  }
  return {};
}

IoResult<void> hold_until_closed(ByteReader& reader) {
  std::uint8_t sink[4096];
  while (true) {
    auto got = reader.read_some(sink);
    if (!got) {
      if (got.error().kind == IoErrorKind::Interrupted) continue;
      return {};  // a reset by the client ends the hold just as well
    }
    if (*got == 0) return {};
  }
}

IoResult<void> raw_frame(ByteWriter& writer, const Step& step) {
  const std::uint8_t header[5] = {step.kind, static_cast<std::uint8_t>(step.length >> 24),
                                  static_cast<std::uint8_t>(step.length >> 16),
                                  static_cast<std::uint8_t>(step.length >> 8),
                                  static_cast<std::uint8_t>(step.length)};
  if (auto sent = write_all(writer, header); !sent) return sent;
  return write_all(writer, as_bytes(step.bytes));
}

}  // namespace

Result<std::string, std::string> unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return fail(std::string("backslash at end of text"));
    switch (text[i]) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case '0':
        out += '\0';
        break;
      case '\\':
        out += '\\';
        break;
      case 'x': {
        const auto byte = from_hex(text.substr(i + 1, 2));
        if (!byte || byte->size() != 1) return fail(std::string("\\x needs two hex digits"));
        out += static_cast<char>(byte->front());
        i += 2;
        break;
      }
      default:
        return fail(std::string("unknown escape \\") + text[i]);
    }
  }
  return out;
}

Result<Script, std::string> parse_script(std::string_view text) {
  Script script;
  std::size_t line_number = 0;
  while (!text.empty()) {
    ++line_number;
    auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    auto [keyword, rest] = split_word(line);
    auto step = parse_step(keyword, rest);
    if (!step) return fail("line " + std::to_string(line_number) + ": " + step.error());
    script.push_back(std::move(*step));
  }
  return script;
}

IoResult<void> run_script(const Script& script, ByteReader& reader, ByteWriter& writer) {
  using Op = Step::Op;
  for (const Step& step : script) {
    IoResult<void> sent;
    switch (step.op) {
      case Op::JsonReply:
        sent = write_frame(writer, FrameKind::Json, as_bytes(step.bytes));
        break;
      case Op::Stdout:
        sent = write_frame(writer, FrameKind::Stdout, as_bytes(step.bytes));
        break;
      case Op::Stderr:
        sent = write_frame(writer, FrameKind::Stderr, as_bytes(step.bytes));
        break;
      case Op::Frame:
        sent = raw_frame(writer, step);
        break;
      case Op::Raw:
        sent = write_all(writer, as_bytes(step.bytes));
        break;
      case Op::Pause:
        std::this_thread::sleep_for(std::chrono::milliseconds(step.size));
        break;
      case Op::Close:
        return {};
      case Op::Hold:
        sent = hold_until_closed(reader);
        break;
      case Op::StdoutRepeat:
        sent = stdout_repeat(writer, step.size, step.count);
        break;
      case Op::HostsRepeat:
        sent = send_json(writer, hosts_reply(generate_hosts(step.size)));
        break;
    }
    if (!sent) return sent;
  }
  return {};
}

}  // namespace sorvane::peer
