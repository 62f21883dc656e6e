"""The server's side of the fixed port: a socket bound to it on a loopback
address of its own, so that servers run side by side and leave 127.0.0.1
alone.  Shared by the suite and the benchmark."""

import errno
import random
import socket

PORT = 5050  # the program's fixed port
BIND_TRIES = 100  # loopback addresses tried for a free PORT


def own_loopback_socket():
    """A TCP socket bound to PORT on a loopback address of its own, or None
    where the system has no loopback address but 127.0.0.1."""
    rng = random.SystemRandom()
    for _ in range(BIND_TRIES):
        address = "127.%d.%d.%d" % (rng.randint(1, 254), rng.randint(0, 255), rng.randint(1, 254))
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            sock.bind((address, PORT))
            return sock
        except OSError as error:
            sock.close()
            if error.errno == errno.EADDRNOTAVAIL:
                return None
            if error.errno != errno.EADDRINUSE:
                raise
    raise AssertionError("port %d was taken on %d loopback addresses in a row: does something hold it on"
                         " the wildcard address?" % (PORT, BIND_TRIES))
