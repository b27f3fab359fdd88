// Faults that the stand-in injects into its replies, for tests, demos and
// soaks: at most one per conversation, drawn from a seed so that a run can be
// repeated. Each fault turns the reply the demo would have sent into a
// script of what is sent instead.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/io.h"
#include "base/result.h"
#include "script.h"

namespace sorvane::peer {

enum class Fault {
  Close,           // the frames before the final reply, then the connection closes
  Stall,           // the frames before the final reply, then nothing until the client goes
  TruncateHeader,  // the final reply's frame cut inside its header
  TruncateBody,    // the final reply's frame cut inside its payload
  Oversize,        // the final reply's frame declares more than 16 MiB
  BadKind,         // a frame of an unknown kind before the final reply
  BadJson,         // the final reply's payload is not JSON
  FinalFirst,      // the final reply comes before the frames that lead to it
  Trickle,         // the whole reply, one byte every 50 ms
  NoRead,          // the request is never served, and nothing is sent
  LateFirst,       // the whole reply, its first byte 6 s late
};

struct FaultName {
  Fault fault;
  std::string_view name;
};

inline constexpr std::array<FaultName, 11> FAULT_NAMES = {{
    {Fault::Close, "close"},
    {Fault::Stall, "stall"},
    {Fault::TruncateHeader, "truncate-header"},
    {Fault::TruncateBody, "truncate-body"},
    {Fault::Oversize, "oversize"},
    {Fault::BadKind, "bad-kind"},
    {Fault::BadJson, "bad-json"},
    {Fault::FinalFirst, "final-first"},
    {Fault::Trickle, "trickle"},
    {Fault::NoRead, "no-read"},
    {Fault::LateFirst, "late-first"},
}};

inline constexpr std::uint64_t TRICKLE_GAP_MS = 50;
inline constexpr std::uint64_t LATE_FIRST_MS = 6000;

std::string_view fault_name(Fault fault);

// A comma-separated list of names, or "all".
Result<std::vector<Fault>, std::string> parse_faults(std::string_view list);

struct FaultPlan {
  std::vector<Fault> faults;  // empty: none
  double rate = 0;            // the share of conversations that fault, 0 to 1
  std::uint64_t seed = 0;
};

// The fault of conversation `number`, or none; the same for the same plan
// on every platform and whatever the order the conversations are served in.
std::optional<Fault> draw_fault(const FaultPlan& plan, std::uint64_t number);

// Keeps a reply in memory, for a fault to rework before it is sent.
class RecordedReply final : public ByteWriter {
 public:
  IoResult<std::size_t> write_some(ByteSpan bytes) override {
    bytes_.append(bytes.begin(), bytes.end());
    return bytes.size();
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// What goes on the connection instead of `reply` (whole frames, the final
// reply last).
Script faulty_reply(Fault fault, std::string_view reply);

}  // namespace sorvane::peer
