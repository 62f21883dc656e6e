"""Every outcome of each call that client.exe makes to the socket library,
under Wine, with a stand-in ws2_32.dll (tests/ws2_32/) beside a copy of the
program: it fails the call it is told to with the code it is told, and
records every call.  CLIENT_TEST_WS2_32 names the built stand-in."""

import os
import shutil
import tempfile

import support
from support import FAILURE, NO_SOCKET_LIBRARY, PORT, USAGE, failed, output, reply

FULL = "".join(chr(33 + number % 94) for number in range(1024))  # printable, no zero byte
CALLS_TO_RECV = "WSAStartup htons inet_addr socket connect recv"

CASES = [
    # name            address given  failing call        reply                 expected stdout
    #                 status   calls after the stand-in is loaded, in order
    ("no argument",   False, None,               "",                   output(USAGE),
                      FAILURE, ""),
    ("start fails",   True,  "WSAStartup 10091", "",                   output(NO_SOCKET_LIBRARY),
                      FAILURE, "WSAStartup"),
    ("socket fails",  True,  "socket 10047",     "",                   failed("socket", 10047),
                      FAILURE, "WSAStartup htons inet_addr socket WSAGetLastError WSACleanup"),
    ("connect fails", True,  "connect 10060",    "",                   failed("connect", 10060),
                      FAILURE, "WSAStartup htons inet_addr socket connect WSAGetLastError closesocket WSACleanup"),
    ("recv fails",    True,  "recv 10053",       "",                   failed("recv", 10053),
                      FAILURE, CALLS_TO_RECV + " WSAGetLastError closesocket WSACleanup"),
    ("orderly close", True,  None,               "",                   b"",
                      FAILURE, CALLS_TO_RECV + " closesocket WSACleanup"),
    ("reply",         True,  None,               "hello",              reply(b"hello"),
                      0,       CALLS_TO_RECV + " closesocket WSACleanup"),
    ("1024 bytes",    True,  None,               FULL + "never read",  reply(FULL.encode()),
                      0,       CALLS_TO_RECV + " closesocket WSACleanup"),
]


class WinsockTest(support.ClientTestCase):
    def setUp(self):
        stand_in = os.environ.get("CLIENT_TEST_WS2_32")
        self.assertTrue(stand_in and os.path.exists(stand_in), "CLIENT_TEST_WS2_32 must name the built stand-in")
        self.folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.folder)
        shutil.copy(stand_in, os.path.join(self.folder, "ws2_32.dll"))
        self.program = shutil.copy(support.COMMAND[-1], self.folder)

    def test_every_outcome(self):
        with support.nothing_listening() as address:  # if the real library were used
            lines = {
                "WSAStartup": "WSAStartup 0x0202",
                "htons": "htons %d" % PORT,
                "inet_addr": "inet_addr " + address,
                "socket": "socket 2 1 0",
                "connect": "connect 7 2 %s:%d 16" % (address, PORT),
                "recv": "recv 7 1024 0",
                "closesocket": "closesocket 7",
            }
            for name, address_given, failing, data, stdout, status, calls in CASES:
                with self.subTest(name):
                    log = os.path.join(self.folder, name.replace(" ", "_") + ".log")
                    env = dict(os.environ, WINEDLLOVERRIDES="ws2_32=n", WS2_32_LOG="Z:" + log,
                               WS2_32_FAIL=failing or "", WS2_32_REPLY=data)
                    got = support.run([address] if address_given else [], env=env,
                                      command=support.COMMAND[:-1] + [self.program])
                    self.assertTrue(os.path.exists(log), "the stand-in ws2_32.dll was not loaded: %r" % (got,))
                    with open(log) as recorded:
                        self.assertEqual(recorded.read().split("\n")[:-1],
                                         ["loaded"] + [lines.get(call, call) for call in calls.split()])
                    self.assertEqual(got, (stdout, b"", status))


if __name__ == "__main__":
    support.main()
