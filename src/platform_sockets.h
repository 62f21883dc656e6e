// Gives POSIX systems the Winsock names that client.cpp uses, so that main
// reads the same on Windows and on POSIX systems.  Most names are plain
// stand-ins.  WSAStartup does more on POSIX: it secures the standard
// descriptors and ignores SIGPIPE and SIGXFSZ.
#ifndef CLIENT_PLATFORM_SOCKETS_H
#define CLIENT_PLATFORM_SOCKETS_H

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// The program wants inet_addr's conversion, which MSVC calls deprecated.
#ifndef _WINSOCK_DEPRECATED_NO_WARNINGS
#define _WINSOCK_DEPRECATED_NO_WARNINGS
#endif
#include <winsock2.h>

#else

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

// POSIX sockets need no start-up, so the record holds nothing.
struct WSADATA {};

constexpr unsigned short MAKEWORD(unsigned char low, unsigned char high)
{
    return static_cast<unsigned short>(low | (high << CHAR_BIT));
}

// A socket takes the lowest free descriptor.  If stdout is closed, the
// socket can take descriptor 1, and printf then writes to the server.  So
// each closed standard descriptor gets /dev/null, opened read-only: a write
// to a closed stdout still fails, and the exit status says so.  The test for
// a closed descriptor is fcntl's EBADF, which POSIX fixes and every kernel
// gives.  poll is not used: macOS's poll reports nothing for a closed
// descriptor.  Returns 0, or -1 with errno set.
inline int secure_standard_descriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) {
            continue;
        }
        if (errno != EBADF) {
            return -1;
        }
        // open takes the lowest free number, which is fd: the lower ones are
        // open by now.  errno is open's, or else still fcntl's.
        if (open("/dev/null", O_RDONLY) != fd) {
            return -1;
        }
    }
    return 0;
}

// The start step.  SIGPIPE and SIGXFSZ are ignored, so that a write to a
// pipe whose reader has gone, or to a file at its size limit, fails with
// EPIPE or EFBIG.  main then returns -1.  Without this, the signal would end
// the process.  The signals that a person sends keep their defaults.
inline int WSAStartup(unsigned short /*version*/, WSADATA * /*data*/)
{
    if (secure_standard_descriptors() == -1 || signal(SIGPIPE, SIG_IGN) == SIG_ERR ||
        signal(SIGXFSZ, SIG_IGN) == SIG_ERR) {
        return errno;
    }
    return 0;
}

inline int WSACleanup() { return 0; }

inline int WSAGetLastError() { return errno; }

inline int closesocket(SOCKET socket) { return close(socket); }

#endif

#endif
