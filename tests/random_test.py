"""Randomized replies: any bytes, any length from 1 to 1024, printed exactly
up to the first zero byte; where stdout can be a pseudo-terminal (POSIX,
not Wine), every fourth reply goes to one, in a UTF-8 and a C locale in
turn.  Seeded; CLIENT_TEST_SEED and CLIENT_TEST_ROUNDS replay or resize a
run."""

import os
import random

import support
from support import hold, on_a_terminal, reply, send, serve

SPECIAL = b"\0%\r\n\x1b\x7f" + bytes(range(0x80, 0x100))


def random_reply(rng):
    length = rng.choice([rng.randint(1, 1024), 1024, 1])
    # Zero bytes are kept rare so that most replies print at some length.
    return bytes(0 if rng.random() < 0.002 else
                 rng.choice(SPECIAL) if rng.random() < 0.3 else
                 rng.randint(1, 255) for _ in range(length))


class RandomTest(support.ClientTestCase):
    def test_random_replies(self):
        seed = int(os.environ.get("CLIENT_TEST_SEED", "20261208"))
        rounds = int(os.environ.get("CLIENT_TEST_ROUNDS", support.REPEATS))
        rng = random.Random(seed)
        # A server a round, so that one round's failure leaves the others be.
        for number, data in enumerate([random_reply(rng) for _ in range(rounds)]):
            with self.subTest(seed=seed, round=number), serve([send(data), hold]) as address:
                if os.name == "posix" and not support.WINE and number % 4 == 0:
                    utf8 = number % 8 == 0
                    self.assertEqual(support.run_on_terminal([address], {"LANG": "C.UTF-8" if utf8 else "C"}),
                                     (on_a_terminal(data, utf8), b"", 0))
                else:
                    self.check([address], reply(data), 0)


if __name__ == "__main__":
    support.main()
