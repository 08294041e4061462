#!/usr/bin/python3
"""Measurement (not a test): one address holding connections open by trickling.

Starts QELT_SERVER with its default limits (or OPTIONS) on a scratch tree, opens CONNECTIONS connections
from 127.0.0.1 that each send their request headers one byte every two seconds, then times
a plain GET /launcher/status from 127.0.0.2 and one from 127.0.0.1, and prints what each
got and how long it took (up to TIMEOUT seconds). Prints, never asserts.

Usage: bench-trickle.py QELT_SERVER [CONNECTIONS, default 10050] [TIMEOUT, default 30] [OPTIONS...]
"""
import os
import resource
import socket
import subprocess
import sys
import tempfile
import threading
import time


def timed_get(port, source, timeout):
    """(what happened, seconds) for one GET /launcher/status from source."""
    started = time.monotonic()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout,
                                      source_address=(source, 0)) as s:
            s.sendall(b"GET /launcher/status HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            answer = s.recv(4096)
        outcome = answer.split(b"\r\n", 1)[0].decode() if answer else "closed without an answer"
    except socket.timeout:
        outcome = "no answer"
    except OSError as e:
        outcome = "refused (%s)" % e.__class__.__name__
    return outcome, time.monotonic() - started


def main():
    exe = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 10050
    timeout = float(sys.argv[3]) if len(sys.argv) > 3 else 30
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    if hard < count + 100:
        print("open-file limit %d is too low for %d connections" % (hard, count))
        return 1
    work = tempfile.mkdtemp(prefix="qelt-trickle-")
    os.makedirs(os.path.join(work, "tree", "launcher"))
    with open(os.path.join(work, "tree", "launcher", "status"), "w") as f:
        f.write("online\n")
    port_file = os.path.join(work, "port")
    log = open(os.path.join(work, "server.log"), "wb")
    server = subprocess.Popen([exe, "--root", os.path.join(work, "tree"), "--port", "0",
                               "--port-file", port_file, *sys.argv[4:]], stdout=log, stderr=subprocess.STDOUT)
    crowd = []
    stop = threading.Event()
    try:
        for _ in range(100):
            if os.path.exists(port_file):
                break
            time.sleep(0.05)
        port = int(open(port_file).read())
        started = time.monotonic()
        refused = 0
        for _ in range(count):
            try:
                s = socket.create_connection(("127.0.0.1", port), timeout=5)
            except OSError:
                refused += 1
                continue
            crowd.append(s)
            s.setblocking(False)
            try:
                s.send(b"GET /launcher/status HTTP/1.1\r\nHost: x\r\nX-Slow: ")
            except OSError:
                pass

        def trickle():
            while not stop.wait(2):
                for s in crowd:
                    try:
                        s.send(b"a")
                    except OSError:
                        pass

        trickler = threading.Thread(target=trickle, daemon=True)
        trickler.start()
        print("%d connections from 127.0.0.1 opened in %.1f s (%d refused on connect)"
              % (len(crowd), time.monotonic() - started, refused))
        time.sleep(3)  # a round of trickling, so the server has seen all of them
        for source in ("127.0.0.2", "127.0.0.1"):
            outcome, seconds = timed_get(port, source, timeout)
            print("GET /launcher/status from %s: %s after %.3f s" % (source, outcome, seconds))
        open_now = 0
        for s in crowd:
            try:
                open_now += s.recv(1) != b""
            except BlockingIOError:
                open_now += 1
            except OSError:
                pass
        print("trickling connections still open: %d of %d" % (open_now, len(crowd)))
    finally:
        stop.set()
        for s in crowd:
            s.close()
        server.terminate()
        try:
            server.wait(30)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
        log.close()
        with open(os.path.join(work, "server.log"), errors="replace") as f:
            for line in f:
                if "refused at the limit" in line:
                    print("server: " + line.strip())
        subprocess.run(["rm", "-rf", work])
    return 0


if __name__ == "__main__":
    sys.exit(main())
