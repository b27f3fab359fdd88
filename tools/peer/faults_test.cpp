#include "faults.h"

#include <gtest/gtest.h>

#include <map>

#include "ipc/frame.h"
#include "test_streams.h"

namespace sorvane::peer {
namespace {

using testing::EmptyReader;
using testing::StringWriter;

std::string frame_of(FrameKind kind, std::string_view payload) {
  StringWriter out;
  EXPECT_TRUE(write_frame(out, kind, as_bytes(payload)));
  return out.text;
}

// What a script puts on the connection, without sleeping through its pauses.
struct Sent {
  std::string bytes;
  std::uint64_t paused_ms = 0;
  bool held = false;
};

Sent replay(const Script& script) {
  Sent sent;
  Script without_pauses;
  for (const Step& step : script) {
    if (step.op == Step::Op::Pause) sent.paused_ms += step.size;
    if (step.op == Step::Op::Hold) sent.held = true;
    if (step.op != Step::Op::Pause) without_pauses.push_back(step);
  }
  StringWriter out;
  EmptyReader client_gone;  // a hold ends at once
  EXPECT_TRUE(run_script(without_pauses, client_gone, out));
  sent.bytes = out.text;
  return sent;
}

TEST(PeerFaults, EachFaultReworksARecordedReply) {
  const std::string output = frame_of(FrameKind::Stdout, "hi\n");
  const std::string exit_payload = R"({"type":"exit","code":0})";
  const std::string exit = frame_of(FrameKind::Json, exit_payload);
  const std::string reply = output + exit;
  struct Case {
    Fault fault;
    std::string bytes;
    std::uint64_t paused_ms;
    bool held;
  };
  const Case cases[] = {
      {Fault::Close, output, 0, false},
      {Fault::Stall, output, 0, true},
      {Fault::TruncateHeader, output + exit.substr(0, 3), 0, false},
      {Fault::TruncateBody, output + exit.substr(0, 5 + exit_payload.size() / 2), 0, false},
      {Fault::Oversize, output + std::string("\x4a\x01\x00\x00\x01", 5) + exit_payload, 0, false},
      {Fault::BadKind, output + "X" + exit.substr(1) + exit, 0, false},
      {Fault::BadJson,
       output + frame_of(FrameKind::Json, exit_payload.substr(0, exit_payload.size() - 1)), 0,
       false},
      {Fault::FinalFirst, exit + output, 0, false},
      {Fault::Trickle, reply, TRICKLE_GAP_MS * (reply.size() - 1), false},
      {Fault::NoRead, "", 0, true},
      {Fault::LateFirst, reply, LATE_FIRST_MS, false},
  };
  for (const Case& c : cases) {
    const Sent sent = replay(faulty_reply(c.fault, reply));
    EXPECT_EQ(sent.bytes, c.bytes) << fault_name(c.fault);
    EXPECT_EQ(sent.paused_ms, c.paused_ms) << fault_name(c.fault);
    EXPECT_EQ(sent.held, c.held) << fault_name(c.fault);
  }
  // A trickle really is one byte at a time.
  for (const Step& step : faulty_reply(Fault::Trickle, reply)) {
    if (step.op == Step::Op::Raw) {
      EXPECT_EQ(step.bytes.size(), 1U);
    }
  }
}

TEST(PeerFaults, DrawsTheSameFaultsForTheSameSeedAtTheRateAsked) {
  auto all = parse_faults("all");
  ASSERT_TRUE(all);
  const auto draws = [&](std::uint64_t seed, double rate) {
    std::vector<std::optional<Fault>> drawn;
    for (std::uint64_t number = 1; number <= 10000; ++number) {
      drawn.push_back(draw_fault({*all, rate, seed}, number));
    }
    return drawn;
  };
  const auto first = draws(7, 0.25);
  EXPECT_EQ(draws(7, 0.25), first);
  EXPECT_NE(draws(8, 0.25), first);
  std::map<Fault, int> fired;
  for (const auto& fault : first) {
    if (fault) ++fired[*fault];
  }
  EXPECT_EQ(fired.size(), FAULT_NAMES.size());  // every kind comes up
  int total = 0;
  for (const auto& [fault, count] : fired) total += count;
  EXPECT_NEAR(total, 2500, 200);
  for (const auto& fault : draws(7, 0)) EXPECT_FALSE(fault);
  for (const auto& fault : draws(7, 1)) EXPECT_TRUE(fault);

  auto two = parse_faults("stall,trickle");
  ASSERT_TRUE(two);
  EXPECT_EQ(*two, (std::vector<Fault>{Fault::Stall, Fault::Trickle}));
  for (std::uint64_t number = 1; number <= 100; ++number) {
    const auto fault = draw_fault({*two, 1, 3}, number);
    EXPECT_TRUE(fault == Fault::Stall || fault == Fault::Trickle);
  }
  EXPECT_FALSE(parse_faults("stall,fire"));
}

}  // namespace
}  // namespace sorvane::peer
