/* A stand-in for ws2_32.dll, for tests only: put beside client.exe under
 * Wine with WINEDLLOVERRIDES=ws2_32=n, it replaces the socket library and
 * touches no network.  Every call appends a line to the file named by
 * WS2_32_LOG.  WS2_32_FAIL ("call code", e.g. "connect 10060") makes that
 * call fail with that Winsock code; recv copies what it can of WS2_32_REPLY
 * into the buffer, and an empty or missing reply is an orderly close.  The
 * log's first line, "loaded", shows that Windows loaded the stand-in. */
/* The library's own declarations, exporting instead of importing. */
#define WINSOCK_API_LINKAGE __declspec(dllexport)
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <winsock2.h>

static const SOCKET made_socket = 7;
static int last_error;

static void record(const char *format, ...)
{
    const char *path = getenv("WS2_32_LOG");
    FILE *log = path != NULL ? fopen(path, "a") : NULL;
    va_list arguments;

    if (log == NULL)
        return;
    va_start(arguments, format);
    vfprintf(log, format, arguments);
    va_end(arguments);
    fputc('\n', log);
    fclose(log);
}

/* Whether CALL is the one that WS2_32_FAIL makes fail; sets last_error. */
static int fails(const char *call)
{
    const char *fail = getenv("WS2_32_FAIL");
    size_t length = strlen(call);

    if (fail == NULL || strncmp(fail, call, length) != 0 || fail[length] != ' ')
        return 0;
    last_error = atoi(fail + length + 1);
    return 1;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        record("loaded");
    return TRUE;
}

int WSAAPI WSAStartup(WORD version, LPWSADATA data)
{
    record("WSAStartup %#06x", version);
    if (fails("WSAStartup"))
        return last_error;
    memset(data, 0, sizeof *data);
    data->wVersion = data->wHighVersion = version;
    return 0;
}

int WSAAPI WSACleanup(void)
{
    record("WSACleanup");
    return 0;
}

int WSAAPI WSAGetLastError(void)
{
    record("WSAGetLastError");
    return last_error;
}

u_short WSAAPI htons(u_short port)
{
    record("htons %u", port);
    return (u_short)((port >> 8) | (port << 8));
}

unsigned long WSAAPI inet_addr(const char *text)
{
    unsigned char bytes[4];
    unsigned long address;

    record("inet_addr %s", text);
    if (sscanf(text, "%hhu.%hhu.%hhu.%hhu", &bytes[0], &bytes[1], &bytes[2], &bytes[3]) != 4)
        return INADDR_NONE;
    memcpy(&address, bytes, sizeof bytes); /* network order: as the bytes stand */
    return address;
}

SOCKET WSAAPI socket(int family, int type, int protocol)
{
    record("socket %d %d %d", family, type, protocol);
    return fails("socket") ? INVALID_SOCKET : made_socket;
}

int WSAAPI connect(SOCKET s, const struct sockaddr *name, int length)
{
    const struct sockaddr_in *server = (const struct sockaddr_in *)name;
    const unsigned char *address = (const unsigned char *)&server->sin_addr;
    const unsigned char *port = (const unsigned char *)&server->sin_port;

    record("connect %d %d %u.%u.%u.%u:%u %d", (int)s, server->sin_family, address[0], address[1],
           address[2], address[3], port[0] << 8 | port[1], length);
    return fails("connect") ? SOCKET_ERROR : 0;
}

int WSAAPI recv(SOCKET s, char *buffer, int length, int flags)
{
    const char *reply = getenv("WS2_32_REPLY");
    size_t size = reply != NULL ? strlen(reply) : 0;

    record("recv %d %d %d", (int)s, length, flags);
    if (fails("recv"))
        return SOCKET_ERROR;
    if (size > (size_t)length)
        size = (size_t)length;
    memcpy(buffer, reply, size);
    return (int)size;
}

int WSAAPI closesocket(SOCKET s)
{
    record("closesocket %d", (int)s);
    return 0;
}
