#include "platform/peer_credentials.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

namespace sorvane {

#if defined(__linux__)

Result<uid_t, int> peer_user_id(int socket_fd) {
  ucred credentials{};
  socklen_t length = sizeof(credentials);
  if (::getsockopt(socket_fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
    return fail(errno);
  }
  return credentials.uid;
}

const int SEND_NO_SIGNAL = MSG_NOSIGNAL;

int open_stream_socket() { return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0); }

#else  // macOS and the BSDs

Result<uid_t, int> peer_user_id(int socket_fd) {
  uid_t uid = 0;
  gid_t gid = 0;
  if (::getpeereid(socket_fd, &uid, &gid) != 0) return fail(errno);
  return uid;
}

const int SEND_NO_SIGNAL = 0;  // SO_NOSIGPIPE is set on the socket instead

int open_stream_socket() {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return fd;
  const int on = 1;
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof(on));
  return fd;
}

#endif

}  // namespace sorvane
