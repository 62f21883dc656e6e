// What client.cpp asks of the platform, by the same names everywhere: the
// socket calls by their Winsock names, which POSIX systems get here, the
// signals of failed writes, whether stdout is a terminal, whether that
// terminal takes UTF-8, and how a line is printed on one.
#ifndef CLIENT_SOCKETS_AND_TERMINAL_H
#define CLIENT_SOCKETS_AND_TERMINAL_H

#include <cstdio>

// Prints LABEL, the LENGTH bytes of TEXT and a newline on stdout with
// printf, which the precision keeps inside TEXT.  A zero byte ends TEXT.
// Returns 0, or -1 if the line didn't reach stdout.  Microsoft's C run-time
// leaves stdout unbuffered on a character device, such as NUL, and there a
// failed write shows only in the error flag.
inline int print_line(const char *label, const char *text, size_t length)
{
    if (printf("%s%.*s\n", label, static_cast<int>(length), text) < 0 || fflush(stdout) == EOF ||
        ferror(stdout) != 0) {
        return -1;
    }
    return 0;
}

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// The program wants inet_addr's conversion, which MSVC calls deprecated.
#ifndef _WINSOCK_DEPRECATED_NO_WARNINGS
#define _WINSOCK_DEPRECATED_NO_WARNINGS
#endif
#include <winsock2.h>

#include <cstring>

// Windows has no signal for a failed write: the write returns an error.
inline int ignore_write_signals() { return 0; }

// Whether stdout is a console.  GetConsoleMode succeeds on a console
// alone.  _isatty would not do: it is true for every character device, NUL
// and the serial ports among them.
inline bool stdout_is_terminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

// Writes the LENGTH bytes of TEXT, which is UTF-8, to CONSOLE in UTF-16.
// Returns 0, or -1 if the console didn't take it all.
inline int write_utf8_to_console(HANDLE console, const char *text, size_t length)
{
    constexpr size_t PIECE = 512;
    wchar_t wide[PIECE];
    while (length > 0) {
        // A piece ends before a byte that starts a character, never inside one.
        size_t piece = length < PIECE ? length : PIECE;
        while (piece < length && (static_cast<unsigned char>(text[piece]) & 0xC0U) == 0x80U) {
            --piece;
        }
        const int units = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(piece), wide,
                                              static_cast<int>(PIECE));
        DWORD written = 0;
        if (units == 0 ||
            WriteConsoleW(console, wide, static_cast<DWORD>(units), &written, nullptr) == 0 ||
            written != static_cast<DWORD>(units)) {
            return -1;
        }
        text += piece;
        length -= piece;
    }
    return 0;
}

// The console is given UTF-16 (print_on_terminal, below), converted from
// UTF-8, so it shows every character whatever its code page.
inline bool terminal_takes_utf8() { return true; }

// Prints LABEL, the LENGTH bytes of TEXT and a newline, all UTF-8, on the
// console that stdout is, in UTF-16.  Given bytes, the C run-time or the
// console's code page reads each byte as a character of its own, and some
// read 0x80 to 0x9F as C1 controls, as Wine's C run-time does.  Returns 0,
// or -1 if the console didn't take the whole line.
inline int print_on_terminal(const char *label, const char *text, size_t length)
{
    const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    if (write_utf8_to_console(console, label, strlen(label)) == -1 ||
        write_utf8_to_console(console, text, length) == -1 ||
        write_utf8_to_console(console, "\n", 1) == -1) {
        return -1;
    }
    return 0;
}

#else

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <netinet/in.h>
#include <strings.h>
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

// SIGPIPE and SIGXFSZ are ignored, so that a write to a pipe whose reader
// has gone, or to a file at its size limit, fails with EPIPE or EFBIG, and
// main returns -1.  Without this, the signal would end the process.  The
// signals that a person sends keep their defaults.  Returns 0, or -1.
inline int ignore_write_signals()
{
    if (signal(SIGPIPE, SIG_IGN) == SIG_ERR || signal(SIGXFSZ, SIG_IGN) == SIG_ERR) {
        return -1;
    }
    return 0;
}

// The start step, which POSIX sockets don't need, secures the standard
// descriptors (above).
inline int WSAStartup(unsigned short /*version*/, WSADATA * /*data*/)
{
    return secure_standard_descriptors() == -1 ? errno : 0;
}

inline int WSACleanup() { return 0; }

inline int WSAGetLastError() { return errno; }

inline int closesocket(SOCKET socket) { return close(socket); }

// Whether stdout is a terminal.
inline bool stdout_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

// Whether the terminal takes UTF-8, as the locale says: the first of
// LC_ALL, LC_CTYPE and LANG that is set and not empty, as POSIX orders
// them.  Its character set is the part after the first "." (or the whole
// value, as macOS names its locale "UTF-8"), up to any "@" modifier.  It
// takes UTF-8 where that part is UTF-8 or UTF8, in any case.  The locale is
// not loaded with setlocale: that costs system calls, and the terminal's
// character set is what the variable names, installed or not.
inline bool terminal_takes_utf8()
{
    const char *locale = nullptr;
    for (const char *variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        locale = getenv(variable);
        if (locale != nullptr && locale[0] != '\0') {
            break;
        }
    }
    if (locale == nullptr) {
        return false;
    }
    const char *const dot = strchr(locale, '.');
    const char *const charset = dot != nullptr ? dot + 1 : locale;
    const size_t length = strcspn(charset, "@");
    return (length == strlen("UTF-8") && strncasecmp(charset, "UTF-8", length) == 0) ||
           (length == strlen("UTF8") && strncasecmp(charset, "UTF8", length) == 0);
}

// A terminal on POSIX systems takes the line as printf writes it.
inline int print_on_terminal(const char *label, const char *text, size_t length)
{
    return print_line(label, text, length);
}

#endif

#endif
