#!/usr/bin/python3
"""Prints the levels of one olad universe as OLA's own client sees them.

  ola_universe_reader.py RPC_PORT UNIVERSE [--every]

One line "levels A B C ..." each time the levels change (with --every: each time olad passes
them on, changed or not); olad going away and coming back is followed: the reader connects again
every 50 ms until it is there.
"""
import socket
import sys
import time

from ola.ClientWrapper import SelectServer
from ola.OlaClient import OlaClient

port = int(sys.argv[1])
universe = int(sys.argv[2])
every = "--every" in sys.argv[3:]
last = None


def on_data(data):
    global last
    levels = list(data)
    if every or levels != last:
        last = levels
        print("levels " + " ".join(str(v) for v in levels), flush=True)


while True:
    try:
        sock = socket.create_connection(("127.0.0.1", port), timeout=1)
    except OSError:
        time.sleep(0.05)
        continue
    sock.settimeout(None)
    server = SelectServer()
    client = OlaClient(sock)

    def ready():
        # The client library misses a closed connection under Python 3; look first.
        try:
            alive = sock.recv(1, socket.MSG_PEEK)
        except OSError:
            alive = b""
        if not alive:
            server.RemoveReadDescriptor(sock)
            server.Terminate()
            return
        client.SocketReady()

    server.AddReadDescriptor(sock, ready)
    client.RegisterUniverse(universe, client.REGISTER, on_data)
    print("connected", flush=True)
    server.Run()
    sock.close()
    last = None
    print("disconnected", flush=True)
