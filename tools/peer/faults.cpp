#include "faults.h"

#include <algorithm>

#include "ipc/frame.h"

namespace sorvane::peer {
namespace {

// SplitMix64: a well-mixed number from any seed, with no state and the same
// result everywhere (the standard distributions differ between libraries).
std::uint64_t mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// Uniform in [0, 1).
double unit_interval(std::uint64_t x) { return static_cast<double>(x >> 11) * 0x1.0p-53; }

// Where the final reply's frame starts: after every whole frame but the last.
std::size_t final_frame_start(std::string_view reply) {
  std::size_t at = 0;
  std::size_t last = 0;
  while (reply.size() - at >= FRAME_HEADER_LEN) {
    const auto* header = reinterpret_cast<const unsigned char*>(reply.data() + at);
    const std::size_t length = (std::size_t{header[1]} << 24) | (std::size_t{header[2]} << 16) |
                               (std::size_t{header[3]} << 8) | header[4];
    if (reply.size() - at - FRAME_HEADER_LEN < length) break;
    last = at;
    at += FRAME_HEADER_LEN + length;
  }
  return last;
}

Step step(Step::Op op) {
  Step made;
  made.op = op;
  return made;
}
Step raw(std::string bytes) {
  Step made = step(Step::Op::Raw);
  made.bytes = std::move(bytes);
  return made;
}
Step raw(std::string_view bytes) { return raw(std::string(bytes)); }
Step pause(std::uint64_t ms) {
  Step made = step(Step::Op::Pause);
  made.size = ms;
  return made;
}
Step hold() { return step(Step::Op::Hold); }
Step frame(std::uint8_t kind, std::uint32_t length, std::string_view payload) {
  Step made = raw(payload);
  made.op = Step::Op::Frame;
  made.kind = kind;
  made.length = length;
  return made;
}

Script trickled(std::string_view reply) {
  Script script;
  for (std::size_t i = 0; i < reply.size(); ++i) {
    if (i > 0) script.push_back(pause(TRICKLE_GAP_MS));
    script.push_back(raw(std::string(1, reply[i])));
  }
  return script;
}

}  // namespace

std::string_view fault_name(Fault fault) {
  for (const FaultName& entry : FAULT_NAMES) {
    if (entry.fault == fault) return entry.name;
  }
  return "?";
}

Result<std::vector<Fault>, std::string> parse_faults(std::string_view list) {
  std::vector<Fault> faults;
  if (list == "all") {
    for (const FaultName& entry : FAULT_NAMES) faults.push_back(entry.fault);
    return faults;
  }
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view name = list.substr(0, comma);
    const auto* found = std::find_if(FAULT_NAMES.begin(), FAULT_NAMES.end(),
                                     [name](const FaultName& entry) { return entry.name == name; });
    if (found == FAULT_NAMES.end()) return fail("unknown fault \"" + std::string(name) + "\"");
    faults.push_back(found->fault);
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  return faults;
}

std::optional<Fault> draw_fault(const FaultPlan& plan, std::uint64_t number) {
  if (plan.faults.empty()) return std::nullopt;
  const std::uint64_t drawn = mix(plan.seed ^ mix(number));
  if (unit_interval(drawn) >= plan.rate) return std::nullopt;
  return plan.faults[mix(drawn) % plan.faults.size()];
}

Script faulty_reply(Fault fault, std::string_view reply) {
  const std::size_t final_at = final_frame_start(reply);
  const std::string_view leading = reply.substr(0, final_at);
  const std::string_view final_frame = reply.substr(final_at);
  const std::string_view header = final_frame.substr(0, FRAME_HEADER_LEN);
  const std::string_view payload =
      final_frame.substr(std::min(FRAME_HEADER_LEN, final_frame.size()));
  const auto kind = static_cast<std::uint8_t>(header.empty() ? 0 : header[0]);
  const auto length = static_cast<std::uint32_t>(payload.size());
  switch (fault) {
    case Fault::Close:
      return {raw(leading)};
    case Fault::Stall:
      return {raw(leading), hold()};
    case Fault::TruncateHeader:
      return {raw(leading), raw(header.substr(0, 3))};
    case Fault::TruncateBody:
      return {raw(leading), raw(header), raw(payload.substr(0, payload.size() / 2))};
    case Fault::Oversize:
      return {raw(leading), frame(kind, MAX_FRAME_LEN + 1, payload)};
    case Fault::BadKind:
      return {raw(leading), frame('X', length, payload), raw(final_frame)};
    case Fault::BadJson: {
      // An object that never closes, in a frame of the right length.
      const std::string_view unclosed = payload.substr(0, payload.empty() ? 0 : payload.size() - 1);
      return {raw(leading), frame(kind, static_cast<std::uint32_t>(unclosed.size()), unclosed)};
    }
    case Fault::FinalFirst:
      return {raw(final_frame), raw(leading)};
    case Fault::Trickle:
      return trickled(reply);
    case Fault::NoRead:
      return {hold()};
    case Fault::LateFirst:
      return {pause(LATE_FIRST_MS), raw(reply)};
  }
  return {raw(reply)};
}

}  // namespace sorvane::peer
