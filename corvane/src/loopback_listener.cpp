#include "loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane {

int listenOnLoopback(int port, int* boundPort, int* why, std::string& error) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *why = errno;
        error = std::string("cannot create a socket: ") + std::strerror(*why);
        return -1;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 || listen(fd, 16) < 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) < 0) {
        *why = errno;
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(*why);
        close(fd);
        return -1;
    }
    *boundPort = ntohs(addr.sin_port);
    return fd;
}

}  // namespace corvane
