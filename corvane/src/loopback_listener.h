// A listening TCP socket on 127.0.0.1 that never blocks: the one way both of
// corvane's servers (frames, and track names on the port above) open their
// port. Visualizers on this machine only: nothing else can reach it.
#pragma once

#include <string>

namespace corvane {

// The listening socket (non-blocking, close-on-exec, address reuse on), or -1
// with `error` saying "cannot listen on 127.0.0.1:PORT: <reason>" and `why`
// holding errno, so that a caller can add its own advice. `boundPort` is the
// port it got: for port 0, the free one the kernel chose.
int listenOnLoopback(int port, int* boundPort, int* why, std::string& error);

}  // namespace corvane
