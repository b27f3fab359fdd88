#include <windows.h>

#include <aclapi.h>

#include <cstdint>
#include <vector>

#include "listener.h"
#include "platform/os_error.h"
#include "platform/unique_handle_win.h"

namespace sorvane::peer {
namespace {

std::string last_error_text(const std::string& what) {
  return what + ": " + os_error(static_cast<int>(GetLastError())).text;
}

constexpr DWORD BUFFER_SIZE = 64 * 1024;

// The pipe's security: owned by the current user, who alone may use it.
// The owner must be given explicitly: under Wine a pipe created without one
// has no owner at all, and the tool refuses such a pipe.
class PipeSecurity {
 public:
  PipeSecurity() = default;
  PipeSecurity(const PipeSecurity&) = delete;  // attributes_ points into this object
  PipeSecurity& operator=(const PipeSecurity&) = delete;

  Result<bool, std::string> init() {
    if (auto user = read_token_user(); !user) return fail(std::move(user).error());
    PSID sid = reinterpret_cast<TOKEN_USER*>(token_user_.data())->User.Sid;
    const DWORD acl_size =
        sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid);
    acl_.assign((acl_size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
    ACL* acl = reinterpret_cast<ACL*>(acl_.data());
    // Creating further instances of the pipe needs access too, hence all rights.
    if (!InitializeAcl(acl, acl_size, ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
        !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorOwner(&descriptor_, sid, FALSE) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE)) {
      return fail(last_error_text("cannot build the pipe's security descriptor"));
    }
    attributes_ = {sizeof(SECURITY_ATTRIBUTES), &descriptor_, FALSE};
    return true;
  }

  SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

 private:
  Result<bool, std::string> read_token_user() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
      return fail(last_error_text("OpenProcessToken"));
    UniqueHandle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    token_user_.assign((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
    if (size == 0 ||
        !GetTokenInformation(token.get(), TokenUser, token_user_.data(), size, &size)) {
      return fail(last_error_text("GetTokenInformation"));
    }
    return true;
  }

  std::vector<std::uint64_t> token_user_;  // 8-byte aligned storage for TOKEN_USER
  std::vector<std::uint64_t> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

// Owns its pipe instance, or, with `owned` empty, borrows the listener's one
// instance and leaves it to listen again.
class PipeInstanceConnection final : public PeerConnection {
 public:
  PipeInstanceConnection(HANDLE pipe, UniqueHandle owned) : pipe_(pipe), owned_(std::move(owned)) {}
  PipeInstanceConnection(const PipeInstanceConnection&) = delete;
  PipeInstanceConnection& operator=(const PipeInstanceConnection&) = delete;
  ~PipeInstanceConnection() override { close(); }

  IoResult<std::size_t> read_some(MutableByteSpan buffer) override {
    DWORD got = 0;
    const DWORD want = buffer.size() < MAXDWORD ? static_cast<DWORD>(buffer.size()) : MAXDWORD;
    if (ReadFile(pipe_, buffer.data(), want, &got, nullptr)) return std::size_t{got};
    const DWORD error = GetLastError();
    if (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) return std::size_t{0};
    return fail(os_error(static_cast<int>(error)));
  }

  IoResult<std::size_t> write_some(ByteSpan bytes) override {
    DWORD sent = 0;
    const DWORD want = bytes.size() < BUFFER_SIZE ? static_cast<DWORD>(bytes.size()) : BUFFER_SIZE;
    if (WriteFile(pipe_, bytes.data(), want, &sent, nullptr)) return std::size_t{sent};
    return fail(os_error(static_cast<int>(GetLastError())));
  }

  // A client that has closed its end breaks the pipe: peeking fails.
  bool hung_up() override {
    if (pipe_ == nullptr) return true;
    if (PeekNamedPipe(pipe_, nullptr, 0, nullptr, nullptr, nullptr)) return false;
    const DWORD error = GetLastError();
    return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
  }

  // Disconnecting throws away what the client has not read yet, so wait
  // for it to take everything first.
  void close() override {
    if (pipe_ == nullptr) return;
    FlushFileBuffers(pipe_);
    DisconnectNamedPipe(pipe_);
    pipe_ = nullptr;
    owned_.reset();
  }

 private:
  HANDLE pipe_;
  UniqueHandle owned_;
};

}  // namespace

struct Listener::State {
  std::wstring name;
  PipeSecurity security;
  UniqueHandle next;          // the instance that the next client connects to
  bool one_instance = false;  // `next` is the only one, lent to each client in turn

  Result<UniqueHandle, std::string> create_instance(bool first) {
    const DWORD open_mode = PIPE_ACCESS_DUPLEX | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    HANDLE pipe = CreateNamedPipeW(
        name.c_str(), open_mode,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, BUFFER_SIZE, BUFFER_SIZE, 0, security.attributes());
    if (pipe == INVALID_HANDLE_VALUE) {
      if (first && GetLastError() == ERROR_ACCESS_DENIED) {
        return fail(std::string("another server is already listening on this pipe"));
      }
      return fail(last_error_text("CreateNamedPipeW"));
    }
    return UniqueHandle(pipe);
  }
};

Result<Listener, std::string> Listener::open(const NativePath& name, bool one_instance) {
  // FILE_FLAG_FIRST_PIPE_INSTANCE would catch this too, but Wine ignores it.
  if (WaitNamedPipeW(name.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND) {
    return fail(std::string("another server is already listening on this pipe"));
  }
  auto state = std::make_unique<State>();
  state->name = name;
  state->one_instance = one_instance;
  if (auto secured = state->security.init(); !secured) return fail(std::move(secured).error());
  auto first = state->create_instance(true);
  if (!first) return fail(std::move(first).error());
  state->next = std::move(*first);
  return Listener(std::move(state));
}

Listener::Listener(std::unique_ptr<State> state) : state_(std::move(state)) {}
Listener::Listener(Listener&&) noexcept = default;
Listener& Listener::operator=(Listener&&) noexcept = default;
Listener::~Listener() = default;

IoResult<std::unique_ptr<PeerConnection>> Listener::accept(bool more_to_come) {
  if (!state_->next.valid()) {
    auto instance = state_->create_instance(false);
    if (!instance) return fail(IoError{IoErrorKind::Os, std::move(instance).error()});
    state_->next = std::move(*instance);
  }
  if (!ConnectNamedPipe(state_->next.get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
    const int error = static_cast<int>(GetLastError());
    state_->next.reset();
    return fail(os_error(error));
  }
  if (state_->one_instance) {
    return std::unique_ptr<PeerConnection>(
        std::make_unique<PipeInstanceConnection>(state_->next.get(), UniqueHandle()));
  }
  const HANDLE pipe = state_->next.get();
  auto connection = std::make_unique<PipeInstanceConnection>(pipe, std::move(state_->next));
  if (more_to_come) {
    if (auto instance = state_->create_instance(false)) state_->next = std::move(*instance);
  }
  return std::unique_ptr<PeerConnection>(std::move(connection));
}

}  // namespace sorvane::peer
