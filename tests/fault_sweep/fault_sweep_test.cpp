// Real conversations, recorded from the stand-in desktop application (see
// record.py), replayed through the tool cut at every byte offset and with
// bytes flipped. Each replay must end as the bytes received call for, worked
// out here frame by frame with the reference decoder, or with exactly one
// error line and status 255: never a crash, a sanitizer report or a second
// error line. Remote output that arrived whole reaches its stream, unchanged
// on a pipe and repaired only as the terminal rule says on a terminal.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <variant>

#include "ipc/frame.h"
#include "output/console_conversation.h"
#include "output/host_listing.h"
#include "output/recording_stream_for_tests.h"
#include "output/transfer_output.h"
#include "support/reference_reply.h"
#include "text/utf8.h"

namespace sorvane {
namespace {

const std::string BROKEN = "sorvane: [connect_failed] 与 Sorvane 的连接意外中断：";

std::string recording(const char* name) {
  std::ifstream file(std::string(SORVANE_RECORDINGS) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

// The desktop application's side, handed over in small reads.
class Replay : public ByteReader, public ByteWriter {
 public:
  explicit Replay(std::string_view bytes) : bytes_(bytes) {}
  IoResult<std::size_t> read_some(MutableByteSpan buffer) override {
    std::size_t n = std::min({buffer.size(), std::size_t{13}, bytes_.size()});
    std::copy_n(bytes_.data(), n, buffer.data());
    bytes_.remove_prefix(n);
    return n;
  }
  IoResult<std::size_t> write_some(ByteSpan bytes) override { return bytes.size(); }

 private:
  std::string_view bytes_;
};

struct Outcome {
  std::uint32_t status = 0;
  std::string out;
  std::string err;
};

Outcome replay(std::string_view bytes, bool terminal, bool progress = false) {
  Replay peer(bytes);
  testing::RecordingStream out, err;
  ConsoleSink out_sink(out, terminal), err_sink(err, terminal);
  OutputStreams streams{out_sink, err_sink, true, progress};
  Outcome outcome;
  outcome.status = run_conversation(peer, peer, Request{Request::List{}}, streams);
  out_sink.finish();
  err_sink.finish();
  outcome.out = out.text;
  outcome.err = err.text;
  return outcome;
}

// What the bytes call for, frame by frame. `broken` holds the end of the
// error line of a broken conversation, empty where any description will do.
struct Expected {
  Outcome outcome;
  std::optional<std::string> broken;
};

Expected expected_from(std::string_view bytes) {
  Expected expected;
  Outcome& o = expected.outcome;
  testing::RecordedStreams printed(true);
  auto broken = [&](std::string text) {
    o.status = 255;
    expected.broken = std::move(text);
    return expected;
  };
  for (;;) {
    if (bytes.empty()) return broken("unexpected end of file");
    const char kind = bytes[0];
    if (kind != 'J' && kind != '1' && kind != '2') return broken("unknown frame");
    if (bytes.size() < 5) return broken("failed to fill whole buffer");
    std::uint32_t length = 0;
    for (int i = 1; i < 5; ++i) length = length << 8 | static_cast<unsigned char>(bytes[i]);
    if (length > MAX_FRAME_LEN) return broken("frame too large");
    if (bytes.size() - 5 < length) return broken("failed to fill whole buffer");
    std::string_view payload = bytes.substr(5, length);
    bytes.remove_prefix(5 + length);
    if (kind != 'J') {
      (kind == '1' ? o.out : o.err) += payload;
      continue;
    }
    auto reply = reference::decode_reply(payload);
    if (!reply) return broken("");
    if (std::holds_alternative<Reply::Progress>(reply->value)) continue;
    if (auto* hosts = std::get_if<Reply::Hosts>(&reply->value)) {
      (void)print_hosts(hosts->hosts, printed.streams);
    } else if (auto* done = std::get_if<Reply::TransferDone>(&reply->value)) {
      (void)print_summary(done->summary, printed.streams);
      o.status = done->summary.failed > 0 ? 1 : 0;
    } else if (auto* exit = std::get_if<Reply::Exit>(&reply->value)) {
      o.status = static_cast<std::uint32_t>(exit->code);
    } else if (auto* error = std::get_if<Reply::Error>(&reply->value)) {
      o.status = 255;
      printed.err.text += format_error_line(ToolError{error->code, error->message});
    }
    o.out += printed.out.text;
    o.err += printed.err.text;
    return expected;
  }
}

std::size_t count(std::string_view text, std::string_view part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// One replay on a pipe and on a terminal, checked against what the bytes call for.
void check(std::string_view bytes, const std::string& what) {
  const Expected expected = expected_from(bytes);
  const Outcome pipe = replay(bytes, false);
  ASSERT_EQ(pipe.status, expected.outcome.status) << what << "\n" << pipe.err;
  ASSERT_EQ(pipe.out, expected.outcome.out) << what;
  if (expected.broken) {
    const std::string& err = pipe.err;
    const std::string& before = expected.outcome.err;
    ASSERT_EQ(err.substr(0, before.size()), before) << what;
    const std::string line = err.substr(before.size());
    ASSERT_TRUE(line.starts_with(BROKEN) && line.ends_with(*expected.broken + "\n"))
        << what << line;
    ASSERT_EQ(count(line, "\n"), 1u) << what << line;
  } else {
    ASSERT_EQ(pipe.err, expected.outcome.err) << what;
  }

  const Outcome terminal = replay(bytes, true);
  ASSERT_EQ(terminal.status, pipe.status) << what;
  ASSERT_EQ(terminal.out, text::utf8_lossy(pipe.out)) << what;
  ASSERT_EQ(terminal.err, text::utf8_lossy(pipe.err)) << what;
}

void sweep(const char* name, std::size_t flip_every) {
  const std::string bytes = recording(name);
  ASSERT_FALSE(bytes.empty()) << name << " is missing";
  check(bytes, std::string(name) + " whole");
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    check(std::string_view(bytes).substr(0, cut),
          std::string(name) + " cut at " + std::to_string(cut));
    if (::testing::Test::HasFatalFailure()) return;
  }
  for (std::size_t at = 0; at < bytes.size(); at += flip_every) {
    for (unsigned char mask : {0x01, 0x20, 0xFF}) {
      std::string flipped = bytes;
      flipped[at] = static_cast<char>(flipped[at] ^ mask);
      check(flipped,
            std::string(name) + " byte " + std::to_string(at) + " ^ " + std::to_string(mask));
      if (::testing::Test::HasFatalFailure()) return;
      // Progress drawn on a terminal: still one error line at most.
      const Outcome drawn = replay(flipped, true, true);
      ASSERT_LE(count(drawn.err, "sorvane: ["), 1u);
    }
  }
}

TEST(FaultSweep, List) { sweep("list.bin", 1); }
TEST(FaultSweep, ExecWithBothStreamsAndAnExitCode) { sweep("exec.bin", 1); }
TEST(FaultSweep, UploadWithProgressAndSummary) { sweep("upload.bin", 3); }

}  // namespace
}  // namespace sorvane
