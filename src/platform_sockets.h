// Gives POSIX systems the Winsock names that client.cpp uses, so that the
// program reads the same on Windows and on POSIX systems.
#ifndef CLIENT_PLATFORM_SOCKETS_H
#define CLIENT_PLATFORM_SOCKETS_H

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// inet_addr is exactly the conversion this program wants, deprecated or not.
#ifndef _WINSOCK_DEPRECATED_NO_WARNINGS
#define _WINSOCK_DEPRECATED_NO_WARNINGS
#endif
#include <winsock2.h>

#else

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

// POSIX sockets need no start-up: the registration record holds nothing.
struct WSADATA {};

constexpr unsigned short MAKEWORD(unsigned char low, unsigned char high)
{
    return static_cast<unsigned short>(low | (high << CHAR_BIT));
}

// POSIX sockets need no start, but the standard descriptors must be open:
// a socket made while one is closed takes its number, and then what is
// printed on stdout travels to the server.  Each closed one gets /dev/null,
// read-only, so that a write to a closed stdout still fails and a reply
// that reached nobody is not reported as delivered.  Returns non-zero if
// they can't be secured.
inline int WSAStartup(unsigned short /*version*/, WSADATA * /*data*/)
{
    pollfd standard[] = {{STDIN_FILENO, 0, 0}, {STDOUT_FILENO, 0, 0}, {STDERR_FILENO, 0, 0}};
    if (poll(standard, 3, 0) == -1) {
        return errno;
    }
    for (const pollfd &descriptor : standard) {
        // open takes the lowest free number: the closed one, as any lower
        // one is open by now.
        if ((descriptor.revents & POLLNVAL) != 0 && open("/dev/null", O_RDONLY) != descriptor.fd) {
            return EBADF;
        }
    }
    return 0;
}

inline int WSACleanup() { return 0; }

inline int WSAGetLastError() { return errno; }

inline int closesocket(SOCKET socket) { return close(socket); }

#endif

#endif
