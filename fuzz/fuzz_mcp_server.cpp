// sorvane-mcp's input, as any client could send it: the input is a sequence
// of lines handed to the server, whose tool calls talk to a stand-in for the
// desktop application. No input may crash it or hang it, and every line it
// writes is one whole JSON message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "mcp/server.h"

using namespace sorvane;

namespace {

// Keeps what the server writes, under a lock: calls write from their threads.
class Collected final : public OutputStream {
 public:
  IoResult<void> write_all(ByteSpan bytes) override {
    const std::lock_guard lock(mutex_);
    text_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return {};
  }
  IoResult<void> flush() override { return {}; }
  std::string text() const {
    const std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

// The desktop application, answering each request at once: some output and
// an exit code, one host, or a finished transfer.
FinalReply answer(const Request& request, ConversationEvents& events, Cancellation&) {
  if (std::holds_alternative<Request::List>(request.member)) {
    return Reply{Reply::Hosts{{HostInfo{"a1b2c3d4e5f60718", "web", {}, "me", "10.0.0.1", 22, {}}}}};
  }
  if (std::holds_alternative<Request::Exec>(request.member)) {
    const std::string_view out = "out\xff\n";
    if (!events.output(RemoteStream::Stdout, as_bytes(out))) return fail(connection_broken("gone"));
    return Reply{Reply::Exit{3}};
  }
  return Reply{Reply::TransferDone{}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Collected out;
  Collected diagnostics;
  {
    mcp::Options options;
    options.timeout_seconds = 1;  // a wait for the client ends soon, answered or not
    options.max_calls = 4;
    mcp::MessageWriter writer(out, diagnostics);
    mcp::Server server(options, writer, answer);
    std::string_view input(reinterpret_cast<const char*>(data), size);
    while (!input.empty()) {
      const std::size_t end = input.find('\n');
      server.handle_line(input.substr(0, end));
      input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    }
  }  // the end of input: open calls are cancelled and joined
  const std::string text = out.text();
  std::string_view written = text;
  while (!written.empty()) {
    const std::size_t end = written.find('\n');
    if (end == std::string_view::npos) std::abort();  // a message cut short
    if (!nlohmann::json::accept(written.substr(0, end))) std::abort();
    written.remove_prefix(end + 1);
  }
  return 0;
}
