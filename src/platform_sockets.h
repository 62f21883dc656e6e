// Gives POSIX systems the Winsock names that client.cpp uses, so that the
// program reads the same on Windows and on POSIX systems.  The names are
// plain stand-ins but for one: the POSIX start step, WSAStartup, also makes
// the process safe to talk to a server and report the outcome, through
// secure_standard_descriptors() and by ignoring SIGPIPE and SIGXFSZ.
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
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
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

// A socket made while a standard descriptor is closed takes its number, and
// then what is printed on stdout travels to the server.  Each closed one
// gets /dev/null, read-only, so that a write to a closed stdout still fails
// and a reply that reached nobody is not reported as delivered.  fcntl's
// EBADF is the test because every kernel gives it for a closed descriptor,
// as POSIX says (macOS's poll, for one, reports nothing for them).  Returns
// 0, or -1 with errno set.
inline int secure_standard_descriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) {
            continue;
        }
        if (errno != EBADF) {
            return -1;
        }
        // open takes the lowest free number: this one, as the lower ones
        // are open by now.  errno is then open's, or else still fcntl's.
        if (open("/dev/null", O_RDONLY) != fd) {
            return -1;
        }
    }
    return 0;
}

// The start step.  A reader of stdout that has gone away, or a file that
// has reached the size limit, must cost the write an error (EPIPE, EFBIG),
// which main reports as -1, not the process its life.  The signals a person
// sends keep their defaults.
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
