// What this tool relies on from the desktop application, in the order of a
// conversation. The desktop application is the server end of every run and
// is not part of this program; nothing beyond the points below is assumed.
//
// 1. Endpoint. While its external CLI is switched on, the desktop
//    application listens on the pipe whose name endpoint.h derives from its
//    data directory: the same SORVANE_DATA_DIR override, the same default
//    folder and the same hashing. When no such pipe exists the run ends with
//    not_running (connection.h).
//
// 2. Ownership and access. The pipe is owned by the user who runs the tool,
//    or by the built-in Administrators group, and that user may open it for
//    reading and writing. Any other owner is refused before a byte is sent
//    (connection.h).
//
// 3. Request. The desktop application reads exactly one Json frame
//    (frame.h) holding the version-2 envelope {"version":2,"request":{...}}
//    (protocol/request.h). The tool writes nothing else on the pipe.
//
// 4. Replies, as frames of at most MAX_FRAME_LEN bytes, the Json ones
//    holding one reply object each (protocol/reply.h):
//    - to list: one "hosts" reply with the hosts that match the query (by
//      name, host, user, group or ID), in the order in which they are to be
//      printed;
//    - to exec: any number of Stdout and Stderr frames carrying the remote
//      command's output while it runs, then one "exit" reply with its exit
//      code. The command runs in the login shell over a temporary connection
//      and gets no standard input;
//    - to upload and download: any number of "progress" replies, then one
//      "transfer_done" reply. A "~" in a remote path is the login directory;
//      local paths arrive absolute;
//    - to activate: one "activated" reply;
//    - at any point instead of the final reply: one "error" reply with one
//      of the ten code words (protocol/error_code.h) and a message for the
//      user, shown unchanged.
//
// 5. End. After its final reply the desktop application may close the pipe;
//    the tool reads no further frame. Closing it before a final reply is
//    reported as a broken connection.
//
// 6. Stop. The tool closes the pipe before the final reply when a run is
//    stopped: Ctrl-C or SIGTERM, --timeout, an MCP call cancelled or out of
//    time. That asks the desktop application to end the remote command at
//    once, with every process it started, whether or not it is writing
//    output; no reply is read. The tool never half-closes the pipe while it
//    waits, so only a closed pipe means this.
//
// How the desktop application stores hosts and credentials, makes SSH
// connections, matches a query, runs transfers and counts their progress,
// and every message it words itself, are its own business.
#pragma once
