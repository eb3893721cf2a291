"""How many clients an X display takes: the server splits each resource id
into a client's part and the rest, and gives the rest's mask in its reply
to a connection set-up (X11 protocol, "Connection Setup"). Xvfb's
-maxclients and Xorg's LimitClients change that split.

    python3 xclients.py :0      # prints 256, say; exit status 1 if it cannot tell

Run as the display's user, so that its cookie (xauth) is the one offered.
Standard library only.
"""
import socket
import struct
import subprocess
import sys


def _cookie(display):
    try:
        out = subprocess.run(["xauth", "-n", "list", display], capture_output=True, text=True,
                             timeout=10).stdout
    except (OSError, subprocess.TimeoutExpired):
        return b"", b""
    for line in out.splitlines():
        fields = line.split()
        if len(fields) == 3 and fields[1] == "MIT-MAGIC-COOKIE-1":
            return b"MIT-MAGIC-COOKIE-1", bytes.fromhex(fields[2])
    return b"", b""


def _padded(data):
    return data + b"\0" * (-len(data) % 4)


def max_clients(display):
    host, _, rest = display.rpartition(":")
    number = int(rest.split(".")[0])
    if host in ("", "unix"):
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        address = f"/tmp/.X11-unix/X{number}"
    else:
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        address = (host, 6000 + number)
    name, data = _cookie(display)
    with sock:
        sock.settimeout(10)
        sock.connect(address)
        sock.sendall(struct.pack("<BxHHHHxx", 0x6C, 11, 0, len(name), len(data)) + _padded(name)
                     + _padded(data))
        reply = b""
        while len(reply) < 20:
            chunk = sock.recv(4096)
            if not chunk:
                break
            reply += chunk
    if len(reply) < 20 or reply[0] != 1:
        raise OSError(f"the X server at {display} refused the connection")
    mask = struct.unpack_from("<I", reply, 16)[0]
    return 1 << (29 - bin(mask).count("1"))


if __name__ == "__main__":
    try:
        print(max_clients(sys.argv[1]))
    except (OSError, ValueError, IndexError) as e:
        print(f"xclients: {e}", file=sys.stderr)
        sys.exit(1)
