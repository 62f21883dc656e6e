// client: connects to a server on TCP port 5050, prints what one receive
// delivers, and returns 0.  Every failure returns -1.  The manual page,
// client.1, says what each failure prints.
#include <cstdio>
#include <cstring>

#include "sockets_and_terminal.h"
#include "visible_text.h"

namespace {
constexpr unsigned short SERVER_PORT = 5050;
constexpr int RECV_BUFFER_SIZE = 1024;
constexpr const char *REPLY_LABEL = "recv() data from server: ";
} // namespace

int main(int argc, char *argv[])
{
    // First, so that every write that fails, the usage line's among them,
    // returns -1 (sockets_and_terminal.h).
    if (ignore_write_signals() == -1) {
        printf("Failed to load Winsock.\n");
        return -1;
    }

    if (argc < 2) {
        printf("Usage: client [server IP address]\n");
        return -1;
    }

    char buffer[RECV_BUFFER_SIZE];
    memset(buffer, 0, sizeof(buffer));

    WSADATA wsaData;
    // On POSIX systems this step does more (sockets_and_terminal.h).
    if (WSAStartup(MAKEWORD(2, 2), &wsaData) != 0) {
        printf("Failed to load Winsock.\n");
        return -1;
    }

    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(SERVER_PORT);
    // Not validated.  Text that does not convert becomes INADDR_NONE, and
    // the connection to that address fails.
    server.sin_addr.s_addr = inet_addr(argv[1]);

    const SOCKET sock = socket(AF_INET, SOCK_STREAM, 0);
    if (sock == INVALID_SOCKET) {
        printf("socket() Failed: %d\n", WSAGetLastError());
        WSACleanup();
        return -1;
    }

    if (connect(sock, reinterpret_cast<sockaddr *>(&server), sizeof(server)) == SOCKET_ERROR) {
        printf("connect() Failed: %d\n", WSAGetLastError());
        closesocket(sock);
        WSACleanup();
        return -1;
    }

    auto received = recv(sock, buffer, RECV_BUFFER_SIZE, 0);
    if (received == 0) {
        // The server ended the connection without sending: print nothing.
        closesocket(sock);
        WSACleanup();
        return -1;
    }
    if (received == SOCKET_ERROR) {
        printf("recv() Failed: %d\n", WSAGetLastError());
        closesocket(sock);
        WSACleanup();
        return -1;
    }

    // A terminal gets the text with every byte that it could act on made
    // visible, in the character set that it takes (visible_text.h).
    // Anything else gets the bytes as they came: a full buffer with no zero
    // byte is printed whole.  A reply that didn't reach stdout was not
    // delivered, and the status says so.
    int status = 0;
    if (stdout_is_terminal()) {
        char visible[RECV_BUFFER_SIZE * VISIBLE_BYTES_PER_BYTE];
        const size_t length =
            make_visible(buffer, static_cast<size_t>(received), terminal_takes_utf8(), visible);
        status = print_on_terminal(REPLY_LABEL, visible, length);
    } else {
        status = print_line(REPLY_LABEL, buffer, static_cast<size_t>(received));
    }

    closesocket(sock);
    WSACleanup();
    return status;
}
