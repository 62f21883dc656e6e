"""Many clients at once against one server: each prints exactly the reply
its own connection was sent, and none is lost or mixed up."""

import os
try:
    import resource
except ImportError:  # Windows has no descriptor limit to raise
    resource = None
import time

import support
from support import reply, send, serve

CLIENTS = int(os.environ.get("CLIENT_TEST_CLIENTS", support.REPEATS))


class LoadTest(support.ClientTestCase):
    def test_clients_at_once(self):
        # Two files a client and a socket a connection: more than the usual
        # 1024 (256 on macOS), and macOS refuses an unlimited soft limit.
        if resource:
            soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
            wanted = 4 * CLIENTS + 64
            if soft != resource.RLIM_INFINITY and soft < wanted:
                resource.setrlimit(resource.RLIMIT_NOFILE, (min(wanted, hard), hard))
        replies = [b"reply %d of %d" % (number, CLIENTS) for number in range(CLIENTS)]
        with serve(*[[send(data)] for data in replies]) as address:
            clients = [support.start([address]) for _ in range(CLIENTS)]
            deadline = time.monotonic() + support.RUN_LIMIT * 2
            results = [support.finish(client, timeout=max(1, deadline - time.monotonic())) for client in clients]
        self.assertEqual(sorted(results), sorted((reply(data), b"", 0) for data in replies))


if __name__ == "__main__":
    support.main()
