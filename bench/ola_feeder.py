#!/usr/bin/python3
"""Feeds olad as a lighting program would: every universe of a range, 512 levels each, at a
fixed rate, through OLA's own client.

  ola_feeder.py RPC_PORT FIRST COUNT RATE

The levels change on every round, so olad has something new to send each time. Ends when olad
goes away or the process is killed.
"""
import array
import socket
import sys
import time

from ola.ClientWrapper import ClientWrapper

port, first, count, rate = (int(a) for a in sys.argv[1:5])
wrapper = ClientWrapper(socket.create_connection(("127.0.0.1", port)))
client = wrapper.Client()
due = time.monotonic()
rounds = 0


def send():
    global due, rounds
    levels = array.array("B", [(rounds + k) % 256 for k in range(16)] + [0] * 496)
    for universe in range(first, first + count):
        client.SendDmx(universe, levels)
    rounds += 1
    # Rounds are due on a fixed grid, so a slow round does not lower the rate.
    due += 1.0 / rate
    wrapper.AddEvent(max(0.0, (due - time.monotonic()) * 1000), send)


wrapper.AddEvent(0, send)
wrapper.Run()
