// Who is at the other end of a connected Unix-domain socket (POSIX only).
#pragma once

#include <sys/types.h>

#include "base/result.h"

namespace sorvane {

// The effective user id of the peer; the error is an errno value.
Result<uid_t, int> peer_user_id(int socket_fd);

// Flags for send() so that a closed peer gives EPIPE instead of SIGPIPE.
extern const int SEND_NO_SIGNAL;

// A new stream socket that is not inherited by child processes, or -1 (errno set).
int open_stream_socket();

}  // namespace sorvane
