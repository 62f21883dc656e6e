// What client.cpp asks of the platform, by the same names everywhere: the
// socket calls by their Winsock names, which POSIX systems get here, and
// whether stdout is a terminal.
#ifndef CLIENT_SOCKETS_AND_TERMINAL_H
#define CLIENT_SOCKETS_AND_TERMINAL_H

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// The program wants inet_addr's conversion, which MSVC calls deprecated.
#ifndef _WINSOCK_DEPRECATED_NO_WARNINGS
#define _WINSOCK_DEPRECATED_NO_WARNINGS
#endif
#include <winsock2.h>

// Whether stdout is a console.  GetConsoleMode succeeds on a console
// alone.  _isatty would not do: it is true for every character device, NUL
// and the serial ports among them.
inline bool stdout_is_terminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

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
// to a closed stdout still fails, and the exit status says so.  A closed
// descriptor is one where fcntl fails with EBADF, as POSIX specifies and
// every kernel does.  poll is not used: macOS's poll reports nothing for a
// closed descriptor.  Returns 0, or -1 with errno set.
inline int secure_standard_descriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) {
            continue;
        }
        if (errno != EBADF) {
            return -1;
        }
        // open takes the lowest free number.  That is fd, because the lower
        // ones are open by now.  If open fails, errno says why.  If it
        // returns another number, errno still holds fcntl's EBADF.
        if (open("/dev/null", O_RDONLY) != fd) {
            return -1;
        }
    }
    return 0;
}

// The start step, which does more on POSIX than on Windows: it secures the
// standard descriptors (above), and it ignores SIGPIPE and SIGXFSZ.  Then a
// write to a pipe whose reader has gone, or to a file at its size limit,
// fails with EPIPE or EFBIG, and main returns -1.  Without this, the signal
// would end the process.  The signals that a person sends keep their
// defaults.
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

// Whether stdout is a terminal.
inline bool stdout_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

#endif

#endif
