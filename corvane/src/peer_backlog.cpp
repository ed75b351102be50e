#include "peer_backlog.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace corvane {

PeerBacklog::~PeerBacklog() {
    if (mNetlink >= 0) close(mNetlink);
}

long PeerBacklog::unread(int fd) {
    int onTheWay = 0;
    if (ioctl(fd, SIOCOUTQ, &onTheWay) != 0) return -1;
    const long waiting = peerReceiveQueue(fd);
    return waiting < 0 ? -1 : waiting + onTheWay;
}

long PeerBacklog::peerReceiveQueue(int fd) {
    sockaddr_in self{}, peer{};
    socklen_t selfSize = sizeof self, peerSize = sizeof peer;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&self), &selfSize) != 0 ||
        getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0 || self.sin_family != AF_INET)
        return -1;
    if (mNetlink < 0 && !mUnavailable) {
        mNetlink = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_SOCK_DIAG);
        mUnavailable = mNetlink < 0;
    }
    if (mUnavailable) return -1;

    // One socket asked for by its addresses: the kernel answers while it
    // takes the request, so the reply is there when sendto returns.
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } ask{};
    ask.header.nlmsg_len = sizeof ask;
    ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    ask.header.nlmsg_flags = NLM_F_REQUEST;
    ask.header.nlmsg_seq = ++mSequence;
    ask.request.sdiag_family = AF_INET;
    ask.request.sdiag_protocol = IPPROTO_TCP;
    ask.request.idiag_states = 1u << TCP_ESTABLISHED;
    // The peer's socket: its source is this side's destination.
    ask.request.id.idiag_sport = peer.sin_port;
    ask.request.id.idiag_dport = self.sin_port;
    ask.request.id.idiag_src[0] = peer.sin_addr.s_addr;
    ask.request.id.idiag_dst[0] = self.sin_addr.s_addr;
    ask.request.id.idiag_cookie[0] = ask.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(mNetlink, &ask, sizeof ask, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) != sizeof ask)
        return -1;

    alignas(nlmsghdr) char reply[8192];
    for (;;) {
        const ssize_t got = recv(mNetlink, reply, sizeof reply, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return -1;
        int left = int(got);
        for (auto* h = reinterpret_cast<nlmsghdr*>(reply); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_seq != mSequence) continue;   // the answer to an earlier question left unread
            if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY || h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
                return -1;   // an error: no such socket (gone), or no TCP diagnostics here
            return long(static_cast<const inet_diag_msg*>(NLMSG_DATA(h))->idiag_rqueue);
        }
    }
}

}  // namespace corvane
