#pragma once

// A TCP listener on 127.0.0.1 that completes every connection (the kernel does, from its
// backlog) and never sends a byte: a server that hangs at the login. Destroying it resets the
// connections that wait, so the clients stuck on it fail and end. Throws std::runtime_error.
class SilentServer
{
public:
    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer &) = delete;
    SilentServer &operator=(const SilentServer &) = delete;

    int port() const { return m_port; }

private:
    int m_socket = -1;
    int m_port = 0;
};
