#include "support/SilentServer.h"

#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

SilentServer::SilentServer()
{
    m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr *>(&address), length) != 0
        || ::listen(m_socket, 64) != 0
        || ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        if (m_socket >= 0)
            ::close(m_socket);
        throw std::runtime_error("SilentServer: cannot listen on 127.0.0.1");
    }
    m_port = ntohs(address.sin_port);
}

SilentServer::~SilentServer()
{
    ::close(m_socket);
}
