// Figures for the protocol layer: decoding a typical host list, and reading
// remote output frames from memory against a plain copy of the same bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ipc/frame.h"
#include "protocol/reply.h"

namespace {

std::string hosts_reply(int count) {
  std::string json = R"({"type":"hosts","hosts":[)";
  for (int i = 0; i < count; ++i) {
    if (i > 0) json += ',';
    std::string n = std::to_string(i);
    json += R"({"id":"a1b2c3d4e5f6)" + std::string(4 - n.size(), '0') + n + R"(","name":"服务器-)" +
            n + R"(","group":)" + (i % 3 == 0 ? std::string("null") : R"("生产环境")") +
            R"(,"user":"deploy","host":"10.0.)" + std::to_string(i / 256) + "." +
            std::to_string(i % 256) + R"(","port":22,"os":"ubuntu"})";
  }
  return json + "]}";
}

void BM_DecodeHosts100(benchmark::State& state) {
  const std::string payload = hosts_reply(100);
  for (auto _ : state) {
    auto reply = sorvane::decode_reply(payload);
    if (!reply) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(reply);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * payload.size()));
}
BENCHMARK(BM_DecodeHosts100);

// Like a pipe: hands out at most 64 KiB per read.
class MemoryStream : public sorvane::ByteReader {
 public:
  explicit MemoryStream(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  sorvane::IoResult<std::size_t> read_some(sorvane::MutableByteSpan out) override {
    std::size_t n = std::min({out.size(), bytes_.size() - at_, PIPE_CHUNK});
    std::memcpy(out.data(), bytes_.data() + at_, n);
    at_ += n;
    return n;
  }
  static constexpr std::size_t PIPE_CHUNK = 64 * 1024;

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::size_t at_ = 0;
};

constexpr std::size_t FRAME_BYTES = 64 * 1024;
constexpr std::size_t FRAMES = 256;

std::vector<std::uint8_t> stdout_stream() {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(FRAMES * (FRAME_BYTES + 5));
  for (std::size_t i = 0; i < FRAMES; ++i) {
    bytes.insert(bytes.end(), {0x31, 0x00, 0x01, 0x00, 0x00});
    bytes.insert(bytes.end(), FRAME_BYTES, static_cast<std::uint8_t>('a' + i % 26));
  }
  return bytes;
}

void BM_ReadStdoutFrames64K(benchmark::State& state) {
  const auto bytes = stdout_stream();
  for (auto _ : state) {
    MemoryStream stream(bytes);
    sorvane::BufferedReader reader(stream);
    std::size_t frames = 0;
    for (;;) {
      auto frame = sorvane::read_frame(reader);
      if (!frame || !*frame) break;
      benchmark::DoNotOptimize((*frame)->payload.data());
      ++frames;
    }
    if (frames != FRAMES) state.SkipWithError("frames lost");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ReadStdoutFrames64K);

// The floor to compare with: the same bytes read in the same chunks into
// one reused buffer, no framing at all.
void BM_PlainCopy64K(benchmark::State& state) {
  const auto bytes = stdout_stream();
  std::vector<std::uint8_t> buffer(MemoryStream::PIPE_CHUNK);
  for (auto _ : state) {
    MemoryStream stream(bytes);
    while (*stream.read_some(buffer) > 0) benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_PlainCopy64K);

}  // namespace
