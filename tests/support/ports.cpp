#include "ports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rh::test {
namespace {

int bound(int* port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

} // namespace

int refusingPort()
{
    int port = 0;
    const int fd = bound(&port);
    if (fd >= 0)
        ::close(fd); // bound, never listened: connections are refused
    return port;
}

SilentListener::SilentListener()
{
    m_fd = bound(&m_port);
    if (m_fd >= 0 && ::listen(m_fd, 64) != 0) {
        ::close(m_fd);
        m_fd = -1;
        m_port = 0;
    }
}

SilentListener::~SilentListener()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace rh::test
