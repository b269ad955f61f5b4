"""QEMU's QMP monitor of a running board, on its unix socket."""
import json
import socket

from .patience import Failure

# Seconds that QEMU may take to answer
TIMEOUT = 60


class Qmp:
    """QEMU's QMP monitor, connected and past its capabilities negotiation."""

    def __init__(self, path):
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.socket.settimeout(TIMEOUT)
        try:
            self.socket.connect(path)
        except OSError as error:
            self.socket.close()
            raise Failure(f"cannot reach QEMU's QMP socket {path}: {error}")
        self.replies = self.socket.makefile("rb")
        self.reply()
        self.execute("qmp_capabilities")

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.replies.close()
        self.socket.close()

    def reply(self):
        """The next message that is not an event."""
        while True:
            line = self.replies.readline()
            if not line:
                raise Failure("QEMU closed its QMP socket")
            message = json.loads(line)
            if "event" not in message:
                return message

    def execute(self, command, **arguments):
        self.socket.sendall(json.dumps({"execute": command, "arguments": arguments}).encode() + b"\n")
        message = self.reply()
        if "error" in message:
            raise Failure(f"QMP {command} failed: {message['error']}")
        return message.get("return")
