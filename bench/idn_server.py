#!/usr/bin/python3
"""The baseline for `lxi benchmark`: a trivial raw-socket server that answers
every line with a fixed *IDN? answer, one client at a time.

    bench/idn_server.py PORT
"""
import socket
import sys

with socket.create_server(("127.0.0.1", int(sys.argv[1]))) as server:
    while True:
        conn, _ = server.accept()
        with conn:
            pending = b""
            while data := conn.recv(65536):
                pending += data
                lines = pending.count(b"\n")
                pending = pending[pending.rfind(b"\n") + 1:]
                if lines:
                    conn.sendall(b"pts-panel,PTS500,4,0.1.0\n" * lines)
