#!/usr/bin/env python3
"""A small search-service peer for the demo.

Listens on 127.0.0.1 (and nowhere else) on a port the system picks, writes
that port to a file, then takes up to N connections one after another: reads
each request up to its zero byte, prints what it received and answers with a
fixed reply. Ends after N connections, or when no client comes within the
time limit.
"""
import argparse
import os
import socket
import sys

ADDRESS = "127.0.0.1"
MAX_REQUEST = 4096  # a request is far shorter; more is refused


def read_request(conn):
    """The bytes before the zero byte; None when the client sent too much."""
    data = b""
    while b"\0" not in data:
        chunk = conn.recv(512)
        if not chunk:
            break
        data += chunk
        if len(data) > MAX_REQUEST:
            return None
    return data.split(b"\0", 1)[0]


def write_port(path, port):
    # Written under another name and renamed, so that a reader never sees
    # half a number.
    partial = path + ".partial"
    with open(partial, "w", encoding="ascii") as f:
        f.write("%d\n" % port)
    os.replace(partial, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port-file", required=True, help="file that receives the port number")
    parser.add_argument("--reply", default="0", help='the answer to every request (default "0")')
    parser.add_argument("--connections", type=int, default=1, help="connections to serve (default 1)")
    parser.add_argument("--timeout", type=float, default=60.0,
                        help="seconds to wait for each client (default 60)")
    args = parser.parse_args()

    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as server:
        server.bind((ADDRESS, 0))
        server.listen(1)
        server.settimeout(args.timeout)
        port = server.getsockname()[1]
        write_port(args.port_file, port)
        print("searchservice: listening on %s:%d" % (ADDRESS, port), flush=True)

        for _ in range(args.connections):
            try:
                conn, _peer = server.accept()
            except socket.timeout:
                print("searchservice: no client within %g s, stopping" % args.timeout, flush=True)
                return 1
            with conn:
                conn.settimeout(args.timeout)
                try:
                    request = read_request(conn)
                except socket.timeout:
                    print("searchservice: the client sent no complete request", flush=True)
                    continue
                if request is None:
                    print("searchservice: refused a request longer than %d bytes" % MAX_REQUEST, flush=True)
                    continue
                # The request is Shift_JIS text; show it readably whatever it holds.
                shown = request.decode("cp932", errors="backslashreplace")
                print("searchservice: received %r, answering %r" % (shown, args.reply), flush=True)
                conn.sendall(args.reply.encode("ascii", errors="replace"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
