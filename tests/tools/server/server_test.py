#!/usr/bin/python3
"""qelt-server, black box: the real binary on a free loopback port, real HTTP clients, the
real SQLite file, and (with --launcher) the real Launcher.exe under Wine.

Usage: server_test.py BUILD_TOOLS_DIR [--launcher BUILD_WINDOWS_DIR] [-k NAME]
Writes BUILD_TOOLS_DIR/test-results/<suite>.xml (GoogleTest's layout, for the summary line)
and exits 1 on any failure.
"""
import http.client
import os
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import traceback
import urllib.parse
from xml.sax.saxutils import quoteattr

import nacl.pwhash

TESTS = []


def test(function):
    TESTS.append(function)
    return function


class Server:
    """One qelt-server process over a scratch tree; stops itself at the end of a test."""

    def __init__(self, exe, root, *options):
        self.root = root
        self.log_path = os.path.join(root, "..", "server-%d.log" % time.monotonic_ns())
        self.log = open(self.log_path, "wb")
        port_file = os.path.join(root, "..", "port")
        if os.path.exists(port_file):
            os.unlink(port_file)
        self.process = subprocess.Popen(
            [exe, "--root", root, "--port", "0", "--port-file", port_file, *options],
            stdout=self.log, stderr=subprocess.STDOUT)
        for _ in range(100):
            if os.path.exists(port_file) or self.process.poll() is not None:
                break
            time.sleep(0.05)
        assert os.path.exists(port_file), "server did not start: " + self.output()
        self.port = int(open(port_file).read())

    def output(self):
        self.log.flush()
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def request(self, method, path, body=None, headers=None, timeout=10, source="127.0.0.1"):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout,
                                                source_address=(source, 0))
        try:
            connection.putrequest(method, path, skip_accept_encoding=True)
            for name, value in (headers or {}).items():
                connection.putheader(name, value)
            if body is not None:
                if "Content-Type" not in (headers or {}):
                    connection.putheader("Content-Type", "application/x-www-form-urlencoded")
                connection.putheader("Content-Length", str(len(body)))
            connection.endheaders(body)
            response = connection.getresponse()
            return response.status, response.read(), dict(response.getheaders())
        finally:
            connection.close()

    def register(self, account, password, email, headers=None):
        body = "account=%s&password=%s&email=%s" % tuple(
            urllib.parse.quote(v, safe="") for v in (account, password, email))
        status, text, _ = self.request("POST", "/launcher/register", body.encode(), headers)
        return status, text.decode("utf-8")

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()
        return self.process.returncode


def make_tree(base):
    root = os.path.join(base, "tree")
    for folder in ("launcher", "patch/data", "downloads", ".git"):
        os.makedirs(os.path.join(root, folder), exist_ok=True)
    with open(os.path.join(root, "launcher", "status"), "w") as f:
        f.write("online\n")
    with open(os.path.join(root, "launcher", "manifest.txt"), "w") as f:
        f.write("00000000\tdata/map1.att\n")
    with open(os.path.join(root, "patch", "data", "map1.att"), "wb") as f:
        f.write(bytes(range(256)) * 256)  # 64 KiB
    with open(os.path.join(root, "accounts.tsv"), "w") as f:
        f.write("someone\tsomeone@example.net\n")
    with open(os.path.join(root, ".git", "config"), "w") as f:
        f.write("[core]\n")
    for dot in ("patch/.htpasswd", "patch/data/.secret", "launcher/.status"):
        with open(os.path.join(root, dot), "w") as f:
            f.write("someone:hash\n")
    with open(os.path.join(base, "outside.txt"), "w") as f:
        f.write("outside the tree\n")
    os.symlink(os.path.join(base, "outside.txt"), os.path.join(root, "patch", "out.txt"))
    os.symlink("../../accounts.tsv", os.path.join(root, "patch", "data", "accounts.txt"))
    os.symlink("data/map1.att", os.path.join(root, "patch", "same.att"))  # stays inside
    return root


def accounts(root):
    db = sqlite3.connect(os.path.join(root, "qelt.db"))
    try:
        return {row[0]: row[1:] for row in db.execute("SELECT account, email, password_hash FROM accounts")}
    finally:
        db.close()


def raw_exchange(port, data, shutdown=True, timeout=10):
    """Sends bytes on a fresh connection and returns everything the server sends back."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(data)
        if shutdown:
            s.shutdown(socket.SHUT_WR)
        chunks = []
        try:
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                chunks.append(chunk)
        except (socket.timeout, ConnectionResetError):
            pass
        return b"".join(chunks)


@test
def static_tree_serves_the_three_folders_and_nothing_else(ctx):
    server = ctx.server()
    status, body, headers = server.request("GET", "/patch/data/map1.att")
    whole = bytes(range(256)) * 256
    assert status == 200 and body == whole, status
    assert headers["Content-Length"] == str(len(whole)) and "ETag" in headers and "Last-Modified" in headers
    status, body, _ = server.request("GET", "/launcher/manifest.txt")
    assert status == 200 and body.startswith(b"00000000\t"), status
    # The launcher's WinHTTP escapes the backslashes of a manifest path; a symlink that
    # stays inside the folder is followed.
    for path in ("/patch/data%5Cmap1.att", "/patch\\data\\map1.att", "/patch/same.att", "//patch//data/map1.att"):
        status, body, _ = server.request("GET", path)
        assert status == 200 and body == whole, (path, status)

    status, body, headers = server.request("GET", "/patch/data/map1.att", headers={"Range": "bytes=1000-1099"})
    assert status == 206 and body == whole[1000:1100], status
    assert headers["Content-Range"] == "bytes 1000-1099/65536", headers
    status, body, _ = server.request("GET", "/patch/data/map1.att", headers={"Range": "bytes=-10"})
    assert status == 206 and body == whole[-10:], status
    status, _, headers = server.request("GET", "/patch/data/map1.att", headers={"Range": "bytes=70000-"})
    assert status == 416 and headers["Content-Range"] == "bytes */65536", status
    status, body, headers = server.request("HEAD", "/patch/data/map1.att")
    assert status == 200 and body == b"" and headers["Content-Length"] == "65536", status

    hidden = ["/accounts.tsv", "/qelt.db", "/.git/config", "/patch/out.txt", "/patch/data/accounts.txt",
              "/patch/../accounts.tsv", "/patch/%2e%2e/accounts.tsv", "/patch/..%2faccounts.tsv",
              "/patch/..%5caccounts.tsv", "/patch\\..\\accounts.tsv", "/patch/data/map1.att%00.txt",
              "/patch/%2fetc/passwd", "/patch/data/", "/patch", "/launcher/", "/downloads/nothing.exe",
              "/etc/passwd", "/launcher/register", "/patch/.htpasswd", "/patch/data/.secret",
              "/launcher/.status", "/patch/%2ehtpasswd", "/patch/data%5C.secret"]
    for path in hidden:
        status, body, _ = server.request("GET", path)
        assert status == 404 and b"someone" not in body and b"[core]" not in body, (path, status)
    for request in (b"GET /patch/../accounts.tsv HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
                    b"GET /patch/./../../outside.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"):
        answer = raw_exchange(server.port, request)
        assert answer.startswith(b"HTTP/1.1 404") and b"someone" not in answer and b"outside" not in answer, answer
    status, _, _ = server.request("PUT", "/patch/data/map1.att", body=b"x")
    assert status == 404, status

    # A file replaced while it is being sent goes out whole in the version that was opened.
    big = os.path.join(server.root, "downloads", "Qelt-Data.exe")
    old = os.urandom(32 << 20)
    with open(big, "wb") as f:
        f.write(old)
    with socket.create_connection(("127.0.0.1", server.port), timeout=10) as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
        s.sendall(b"GET /downloads/Qelt-Data.exe HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        first = s.recv(65536)
        with open(big + ".new", "wb") as f:
            f.write(b"new" * 1000)
        os.rename(big + ".new", big)
        received = [first]
        while True:
            chunk = s.recv(1 << 20)
            if not chunk:
                break
            received.append(chunk)
    answer = b"".join(received)
    head, _, body = answer.partition(b"\r\n\r\n")
    assert b"Content-Length: %d" % len(old) in head and body == old, (head, len(body))

    # A published tree links its folders into the live version with relative symlinks; they
    # are followed while they stay inside the tree, and a folder that leads out of it, or
    # back to the tree itself (where the database lies), serves nothing.
    tree = os.path.join(ctx.base, "versioned")
    version = os.path.join(tree, "versions", "7")
    for folder in ("launcher", "patch/data"):
        os.makedirs(os.path.join(version, folder))
    with open(os.path.join(version, "launcher", "manifest.txt"), "w") as f:
        f.write("00000000\tdata/map1.att\n")
    with open(os.path.join(version, "patch", "data", "map1.att"), "wb") as f:
        f.write(whole)
    os.symlink("../launcher/manifest.txt", os.path.join(version, "patch", "manifest.txt"))
    elsewhere = os.path.join(ctx.base, "elsewhere")
    os.makedirs(elsewhere)
    with open(os.path.join(elsewhere, "Qelt-Data.exe"), "w") as f:
        f.write("outside the tree\n")
    os.symlink("versions/7", os.path.join(tree, "current"))
    for top in ("launcher", "patch"):
        os.symlink("current/" + top, os.path.join(tree, top))
    os.symlink("../elsewhere", os.path.join(tree, "downloads"))
    versioned = ctx.server(root=tree)
    assert versioned.register("Linked1", "secret1", "a@b.c")[0] == 200  # the database is in the tree
    for path, expected in (("/patch/data/map1.att", whole), ("/launcher/manifest.txt", b"00000000\tdata/map1.att\n")):
        status, body, _ = versioned.request("GET", path)
        assert status == 200 and body == expected, (path, status)
    for target in ("../elsewhere", ".", "versions/../.."):
        os.symlink(target, os.path.join(tree, "downloads.new"))
        os.rename(os.path.join(tree, "downloads.new"), os.path.join(tree, "downloads"))
        for path in ("/downloads/Qelt-Data.exe", "/downloads/qelt.db", "/patch/manifest.txt"):
            status, body, _ = versioned.request("GET", path)
            assert status == 404 and b"outside" not in body and b"SQLite" not in body, (target, path, status)


@test
def status_follows_the_game_server(ctx):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    game = listener.getsockname()[1]
    server = ctx.server("--game-server", "127.0.0.1:%d" % game)

    def status_within(expected, seconds):
        deadline = time.monotonic() + seconds
        while True:
            status, body, _ = server.request("GET", "/launcher/status")
            if status == 200 and body == expected or time.monotonic() > deadline:
                return status, body
            time.sleep(0.2)

    assert status_within(b"online\n", 5) == (200, b"online\n")
    listener.close()
    assert status_within(b"offline\n", 8) == (200, b"offline\n")
    # Many status requests, one probe at a time: the game server is not flooded.
    again = socket.socket()
    again.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    again.bind(("127.0.0.1", game))
    again.listen(64)
    assert status_within(b"online\n", 8) == (200, b"online\n")
    again.settimeout(0.1)
    for _ in range(50):
        server.request("GET", "/launcher/status")
    probes = 0
    deadline = time.monotonic() + 1
    while time.monotonic() < deadline:
        try:
            again.accept()[0].close()
            probes += 1
        except socket.timeout:
            pass
    again.close()
    assert probes <= 3, probes


@test
def registration_rules_duplicates_and_stored_hash(ctx):
    # The hook sees each new account once it is committed, and only those.
    hook = os.path.join(ctx.base, "hook.sh")
    with open(hook, "w") as f:
        f.write('#!/bin/sh\n/usr/bin/python3 -c "import sqlite3, sys; '
                'print(sys.argv[1], sqlite3.connect(sys.argv[2]).execute(\'SELECT count(*) FROM accounts '
                'WHERE account = ?\', (sys.argv[1],)).fetchone()[0])" "$1" "%s" >>"%s"\n'
                % (os.path.join(ctx.root, "qelt.db"), os.path.join(ctx.base, "hook.txt")))
    os.chmod(hook, 0o755)
    server = ctx.server("--on-register", hook, "--timeout", "3")
    status, text = server.register("Player7", "p&ss=1%", "p@mail.vn", headers={"X-Real-IP": "10.9.9.9"})
    assert status == 200 and text == "Đăng ký thành công! Bạn có thể vào game ngay.", (status, text)
    status, text = server.register("pLAYER7", "other12", "x@y.z")
    assert status == 409 and "đã có" in text, (status, text)

    refusals = [
        (("abc", "secret1", "a@b.c"), "Tài khoản phải từ 4-10 ký tự chữ và số."),
        (("abcde_", "secret1", "a@b.c"), "Tài khoản phải từ 4-10 ký tự chữ và số."),
        (("abcdé", "secret1", "a@b.c"), "Tài khoản phải từ 4-10 ký tự chữ và số."),
        (("abcdef", "se cret", "a@b.c"), "Mật khẩu 6-10 ký tự, không dấu tiếng Việt và không có dấu cách."),
        (("abcdef", "secret12345", "a@b.c"), "Mật khẩu 6-10 ký tự, không dấu tiếng Việt và không có dấu cách."),
        (("abcdef", "secret1", ""), "Bạn chưa nhập email."),
        (("abcdef", "secret1", "a" * 55 + "@b.cde"), "Email tối đa 60 ký tự."),
        (("abcdef", "secret1", "a@b.c\r\nX: y"), "Dữ liệu phải là chữ UTF-8, không có ký tự điều khiển."),
        (("abcdef", "secret1", "\x1b[31mred"), "Dữ liệu phải là chữ UTF-8, không có ký tự điều khiển."),
        (("abcdef", "secret1", "\x9b31m"), "Dữ liệu phải là chữ UTF-8, không có ký tự điều khiển."),
    ]
    for (account, password, email), expected in refusals:
        status, text = server.register(account, password, email)
        assert (status, text) == (400, expected), (account, password, email, status, text)
    # Exactly 60 characters of e-mail, in Vietnamese letters, is fine.
    status, _ = server.register("Viet60", "secret1", "đ" * 56 + "@b.c")
    assert status == 200, status
    for body in (b"account=abcdef&password=secret1&email=a%FFb", b"account=abcdef&password=secret1&email=a%00b",
                 b"account=abcdef&password=secret1&email=a%C3", b"account=abcdef&password=secret1",
                 b"account=abcdef&password=secret1&email=a&email=b", b"account=abcdef&password=secret1&email=a&x=1",
                 b"account=abcdef&password=secret1&email=a%4", b""):
        status, _, _ = server.request("POST", "/launcher/register", body)
        assert status == 400, (body, status)
    status, _, _ = server.request("POST", "/launcher/register", b"account=abcdef&password=secret1&email=a",
                                  headers={"Content-Type": "text/plain"})
    assert status == 400, status

    # Over 4 KiB: refused by its Content-Length, and when sent chunked without one.
    big = b"account=abcdef&password=secret1&email=" + b"a" * 5000
    status, _, _ = server.request("POST", "/launcher/register", big)
    assert status == 413, status
    chunked = (b"POST /launcher/register HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n"
               b"Content-Type: application/x-www-form-urlencoded\r\nConnection: close\r\n\r\n"
               + b"".join(b"400\r\n" + b"a" * 1024 + b"\r\n" for _ in range(5)) + b"0\r\n\r\n")
    assert raw_exchange(server.port, chunked).startswith(b"HTTP/1.1 413"), "chunked"
    # A body shorter than its Content-Length is never taken for a registration.
    short = (b"POST /launcher/register HTTP/1.1\r\nHost: x\r\nContent-Length: 60\r\n"
             b"Content-Type: application/x-www-form-urlencoded\r\n\r\n"
             b"account=Shorty1&password=secret1&email=a")
    answer = raw_exchange(server.port, short)
    assert not answer.startswith(b"HTTP/1.1 200"), answer
    # A body whose length is given twice, or both by length and by chunks, is refused:
    # a proxy in front may have read it the other way.
    form = b"account=Twice01&password=secret1&email=a"
    chunked = b"%x\r\n%s\r\n0\r\n\r\n" % (len(form), form)
    for framing, body in ((b"Content-Length: %d\r\nContent-Length: %d\r\n" % (len(form), len(form)), form),
                          (b"Content-Length: %d\r\nContent-Length: 5\r\n" % len(form), form),
                          (b"Content-Length: %d\r\nTransfer-Encoding: chunked\r\n" % len(chunked), chunked)):
        answer = raw_exchange(server.port, b"POST /launcher/register HTTP/1.1\r\nHost: x\r\n" + framing +
                              b"Content-Type: application/x-www-form-urlencoded\r\n\r\n" + body)
        head, _, text = answer.partition(b"\r\n\r\n")
        assert head.startswith(b"HTTP/1.1 400") and text.decode() == "Yêu cầu không hợp lệ.", (framing, answer)
    stored = accounts(server.root)
    assert set(stored) == {"Player7", "Viet60"}, stored  # no Twice01
    email, hashed = stored["Player7"]
    assert email == "p@mail.vn" and hashed.startswith("$argon2id$") and "p&ss=1%" not in hashed, hashed
    assert nacl.pwhash.verify(hashed.encode(), b"p&ss=1%")
    try:
        nacl.pwhash.verify(hashed.encode(), b"p&ss=1")
        raise AssertionError("a wrong password verified")
    except nacl.exceptions.InvalidkeyError:
        pass
    assert os.stat(os.path.join(server.root, "qelt.db")).st_mode & 0o077 == 0
    deadline = time.monotonic() + 10
    seen = []
    while time.monotonic() < deadline and len(seen) < 2:
        time.sleep(0.1)
        if os.path.exists(os.path.join(ctx.base, "hook.txt")):
            seen = sorted(open(os.path.join(ctx.base, "hook.txt")).read().split("\n")[:-1])
    assert seen == ["Player7 1", "Viet60 1"], seen
    # Without --trusted-proxy the header names nobody: the log shows the peer.
    assert "10.9.9.9" not in server.output() and '127.0.0.1 "POST /launcher/register" 200' in server.output()


@test
def registration_limit_per_client_behind_a_trusted_proxy(ctx):
    server = ctx.server("--register-limit", "2", "--trusted-proxy", "127.0.0.1")
    real = {"X-Real-IP": "203.0.113.7"}
    assert server.register("Limit1", "secret1", "a@b.c", real)[0] == 200
    assert server.register("Limit2", "secret1", "a@b.c", real)[0] == 200
    status, text = server.register("Limit3", "secret1", "a@b.c", real)
    assert status == 429 and "quá nhiều" in text, (status, text)
    # Another player behind the same proxy is not held back by the first.
    assert server.register("Limit4", "secret1", "a@b.c", {"X-Real-IP": "203.0.113.8"})[0] == 200
    assert set(accounts(server.root)) == {"Limit1", "Limit2", "Limit4"}
    assert '203.0.113.7 "POST /launcher/register" 429' in server.output()


@test
def database_unavailable_answers_503_and_stores_nothing(ctx):
    server = ctx.server()
    assert server.register("First1", "secret1", "a@b.c")[0] == 200
    holder = sqlite3.connect(os.path.join(server.root, "qelt.db"), isolation_level=None)
    holder.execute("BEGIN EXCLUSIVE")
    try:
        status, text = server.register("Second2", "secret1", "a@b.c")
        assert status == 503 and text.startswith("Máy chủ"), (status, text)
    finally:
        holder.execute("ROLLBACK")
        holder.close()
    assert server.register("Second2", "secret1", "a@b.c")[0] == 200


@test
def kill9_during_a_burst_loses_no_acknowledged_account(ctx):
    server = ctx.server("--register-limit", "0", "--hash-threads", "2")
    acknowledged = []
    lock = threading.Lock()
    stop = threading.Event()

    def client(n):
        i = 0
        while not stop.is_set():
            name = "Burst%d%03d" % (n, i)
            i += 1
            try:
                status, _ = server.register(name, "secret%d" % n, "b%d@x.vn" % n)
            except OSError:
                return
            if status == 200:
                with lock:
                    acknowledged.append(name)

    clients = [threading.Thread(target=client, args=(n,)) for n in range(6)]
    for t in clients:
        t.start()
    deadline = time.monotonic() + 120
    while len(acknowledged) < 100 and time.monotonic() < deadline:
        time.sleep(0.01)
    server.process.kill()
    stop.set()
    for t in clients:
        t.join(15)
    server.process.wait()
    assert len(acknowledged) >= 100, len(acknowledged)
    # A new instance opens the database after the crash and finds every acknowledged row.
    again = ctx.server("--register-limit", "0")
    db = sqlite3.connect(os.path.join(again.root, "qelt.db"))
    assert db.execute("PRAGMA journal_mode").fetchone()[0] == "wal"
    db.close()
    stored = accounts(again.root)
    missing = [name for name in acknowledged if name not in stored]
    assert not missing, missing
    for name in acknowledged[:3] + acknowledged[-3:]:
        assert nacl.pwhash.verify(stored[name][1].encode(), ("secret%s" % name[5]).encode())
    assert again.register("After1", "secret1", "a@b.c")[0] == 200


def closed_without_answer(port, source, seconds=5):
    """True when the server closes a fresh connection from source without answering its
    request within seconds, as it does with a connection over a limit; False when the
    request waits (in the listen backlog) or is answered."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=seconds, source_address=(source, 0)) as s:
            try:
                s.sendall(b"GET /launcher/status HTTP/1.1\r\nHost: x\r\n\r\n")
            except OSError:
                pass
            return s.recv(4096) == b""
    except (ConnectionResetError, BrokenPipeError):
        return True
    except socket.timeout:
        return False


@test
def one_address_cannot_hold_every_connection(ctx):
    server = ctx.server("--max-connections", "100")
    # More connections from 127.0.0.1 than the server holds, each sending its headers one
    # byte a second, so that no time-out for silence ever ends them.
    crowd = []
    stop = threading.Event()

    def trickle():
        while not stop.wait(1):
            for s in crowd:
                try:
                    s.send(b"a")
                except OSError:
                    pass

    trickler = threading.Thread(target=trickle)
    try:
        for _ in range(120):
            s = socket.create_connection(("127.0.0.1", server.port), timeout=10)
            crowd.append(s)
            try:
                s.sendall(b"GET /launcher/status HTTP/1.1\r\nHost: x\r\nX-Slow: ")
            except OSError:
                pass
        trickler.start()
        # A player at another address is answered at once, and one more connection from
        # the crowding address is closed at once instead of waiting its turn.
        started = time.monotonic()
        status, body, _ = server.request("GET", "/launcher/status", source="127.0.0.2")
        assert status == 200 and body == b"online\n" and time.monotonic() - started < 5, status
        assert closed_without_answer(server.port, "127.0.0.1")
    finally:
        stop.set()
        if trickler.is_alive():
            trickler.join()
        for s in crowd:
            s.close()
    # At the limit in all, a connection from anywhere is closed at once too.
    full = ctx.server("--max-connections", "10")
    held = [socket.create_connection(("127.0.0.1", full.port), timeout=10) for _ in range(10)]
    try:
        assert closed_without_answer(full.port, "127.0.0.2")
    finally:
        for s in held:
            s.close()
    # The operator learns of the refusals at once.
    deadline = time.monotonic() + 5
    while "refused over 64 from one address: " not in server.output() and time.monotonic() < deadline:
        time.sleep(0.1)
    assert "refused over 64 from one address: " in server.output(), server.output()


@test
def crowds_and_slow_clients_do_not_stop_a_fast_one(ctx):
    server = ctx.server("--timeout", "3", "--request-timeout", "5", "--threads", "2",
                        "--connections-per-address", "0")
    idle = []
    try:
        for _ in range(500):
            idle.append(socket.create_connection(("127.0.0.1", server.port), timeout=10))
        for s in idle[:250]:  # half of them begin a request and stall in the middle of it
            s.sendall(b"GET /patch/data/map1.att HTTP/1.1\r\nHost: x\r\n")
        slow = socket.create_connection(("127.0.0.1", server.port), timeout=10)
        slow.sendall(b"POST /launcher/register HTTP/1.1\r\nHost: x\r\nContent-Length: 40\r\n\r\nacc")
        # One that is never silent but never done: its headers trickle in a byte at a time.
        trickling = socket.create_connection(("127.0.0.1", server.port), timeout=10)
        trickling.sendall(b"GET /launcher/status HTTP/1.1\r\nHost: x\r\nX-Slow: ")
        trickle_started = time.monotonic()
        closed = []

        def trickle():
            while time.monotonic() - trickle_started < 15:
                try:
                    trickling.send(b"a")
                except OSError:
                    break
                time.sleep(0.5)
            closed.append(time.monotonic() - trickle_started)

        trickler = threading.Thread(target=trickle)
        trickler.start()
        started = time.monotonic()
        status, body, _ = server.request("GET", "/launcher/status", timeout=5)
        # Answered before any stalled connection could have been dropped (--timeout 3), so
        # not by a slot they gave back; the margin is for a busy machine.
        assert status == 200 and body == b"online\n" and time.monotonic() - started < 2.9, status
        # The slow client is dropped once it has been silent for the time-out.
        slow.settimeout(8)
        started = time.monotonic()
        try:
            while slow.recv(4096):
                pass
        except ConnectionResetError:
            pass
        assert time.monotonic() - started < 7
        slow.close()
        status, _, _ = server.request("GET", "/patch/data/map1.att", timeout=5)
        assert status == 200
        # The trickling one is closed once its request has taken the request time-out.
        trickler.join()
        trickling.close()
        assert 4 < closed[0] < 10, closed
    finally:
        for s in idle:
            s.close()


@test
def startup_failures_name_their_reason(ctx):
    readonly_file = os.path.join(ctx.base, "readonly.db")
    open(readonly_file, "w").close()
    os.chmod(readonly_file, 0o400)
    readonly_folder = os.path.join(ctx.base, "readonly")
    os.makedirs(readonly_folder)
    sqlite3.connect(os.path.join(readonly_folder, "qelt.db")).execute("CREATE TABLE t (x)").connection.close()
    os.chmod(readonly_folder, 0o555)
    busy = socket.socket()
    busy.bind(("127.0.0.1", 0))
    busy.listen(1)
    # root writes whatever a file's mode says: run without that power, as an operator would.
    drop = ["setpriv", "--bounding-set", "-dac_override,-dac_read_search", "--"] if os.geteuid() == 0 else []
    cases = [
        (["--db", "sqlite:" + readonly_file], "cannot open %s: Permission denied" % readonly_file),
        (["--db", "sqlite:%s/qelt.db" % readonly_folder], "attempt to write a readonly database"),
        (["--root", os.path.join(ctx.base, "missing")], "missing: No such file or directory"),
        (["--port", str(busy.getsockname()[1]), "--db", "sqlite:" + os.path.join(ctx.base, "ok.db")],
         "Address already in use"),
    ]
    try:
        for options, reason in cases:
            run = subprocess.run(drop + [ctx.exe, "--root", ctx.root, "--port", "0", *options],
                                 capture_output=True, text=True, timeout=30)
            assert run.returncode == 1 and reason in run.stderr, (options, run.returncode, run.stderr)
    finally:
        busy.close()
        os.chmod(readonly_folder, 0o755)


@test
def sigterm_finishes_a_registration_in_flight_and_exits_0(ctx):
    server = ctx.server()
    result = {}

    def register():
        result["answer"] = server.register("Term01", "secret1", "a@b.c")

    t = threading.Thread(target=register)
    t.start()
    time.sleep(0.05)  # the request is in, its hash is being computed
    server.process.send_signal(signal.SIGTERM)
    t.join(30)
    assert server.process.wait(20) == 0
    assert result.get("answer", (0,))[0] == 200, result
    assert "Term01" in accounts(server.root)


@test
def launcher_updates_and_registers_against_the_real_server(ctx):
    if not ctx.launcher_dir:
        raise Skip("run with --launcher build/windows-x64")
    wine = os.environ.get("QELT_WINE", "/usr/lib/wine/wine64")
    server = ctx.server()
    client = os.path.join(ctx.base, "client")
    os.makedirs(os.path.join(client, "data"))
    for name in ("Launcher.exe",):
        with open(os.path.join(ctx.launcher_dir, name), "rb") as src, open(os.path.join(client, name), "wb") as dst:
            dst.write(src.read())
    with open(os.path.join(client, "main.exe"), "wb") as f:
        f.write(b"MZ stand-in game")
    with open(os.path.join(client, "data", "map1.att"), "wb") as f:
        f.write(b"old map")
    import zlib
    fresh = bytes(range(256)) * 256
    with open(os.path.join(server.root, "launcher", "manifest.txt"), "w") as f:
        f.write("%08X\tdata/map1.att\n" % zlib.crc32(fresh))
    with open(os.path.join(client, "Launcher.ini"), "w") as f:
        f.write("[Launcher]\r\nLauncherName=Qelt Server Test\r\nUpdateUrl=http://127.0.0.1:%d\r\n" % server.port)
    launcher = subprocess.Popen([wine, "Launcher.exe"], cwd=client, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
    try:
        probe = os.path.join(ctx.launcher_dir, "window_probe.exe")
        deadline = time.monotonic() + 60
        state = ""
        while time.monotonic() < deadline and "Server dang online" not in state:
            state = run_wine(wine, [probe, "--wait", "20000"], 60)
            time.sleep(0.5)
        assert "Server dang online" in state, state
        with open(os.path.join(client, "data", "map1.att"), "rb") as f:
            assert f.read() == fresh
        shots = os.path.join(ctx.tools_dir, "screenshots")
        os.makedirs(shots, exist_ok=True)
        done = run_wine(wine, [probe, "register", "Wine01", "p&ss=1%", "wine@mail.vn", "server-register"], 90,
                        cwd=shots)
        assert '"registered":true' in done, done
        stored = accounts(server.root)
        assert stored["Wine01"][0] == "wine@mail.vn" and nacl.pwhash.verify(stored["Wine01"][1].encode(), b"p&ss=1%")
        log = server.output()
        assert '"GET /patch/data/map1.att" 200 65536' in log and '"POST /launcher/register" 200' in log, log
    finally:
        launcher.kill()
        launcher.wait()
        run_wine(wine, ["cmd", "/c", "taskkill", "/f", "/im", "Launcher.exe"], 60)


def run_wine(wine, args, timeout, cwd=None):
    """Runs a Windows program; its output goes through a file, since Wine's own services
    may inherit a pipe and hold it open after the program has ended."""
    with tempfile.TemporaryFile() as out:
        process = subprocess.Popen([wine, *args], stdout=out, stderr=subprocess.STDOUT, cwd=cwd)
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        out.seek(0)
        return out.read().decode("utf-8", "replace")


class Skip(Exception):
    pass


class Context:
    def __init__(self, exe, tools_dir, launcher_dir, base):
        self.exe = exe
        self.tools_dir = tools_dir
        self.launcher_dir = launcher_dir
        self.base = base
        self.root = make_tree(base)
        self.servers = []

    def server(self, *options, root=None):
        server = Server(self.exe, root or self.root, *options)
        self.servers.append(server)
        return server

    def close(self):
        """Stops every server; a server that did not exit 0 (crash, sanitizer report) or
        by the test's own SIGKILL fails the test."""
        failed = []
        for server in self.servers:
            code = server.stop()
            if code not in (0, -signal.SIGKILL):
                failed.append("server exited %s:\n%s" % (code, server.output()[-3000:]))
        return failed


def main():
    args = sys.argv[1:]
    tools_dir = os.path.abspath(args[0])
    launcher_dir = None
    only = None
    if "--launcher" in args:
        launcher_dir = os.path.abspath(args[args.index("--launcher") + 1])
    if "-k" in args:
        only = args[args.index("-k") + 1]
    exe = os.path.join(tools_dir, "qelt-server")
    suite = "qelt_server_launcher_tests" if only == "launcher" else "qelt_server_tests"
    results = []
    for function in TESTS:
        if only and only not in function.__name__:
            continue
        if not only and function.__name__.startswith("launcher_"):
            continue
        started = time.monotonic()
        with tempfile.TemporaryDirectory(prefix="qelt-server-test-") as base:
            ctx = Context(exe, tools_dir, launcher_dir, base)
            outcome = None
            try:
                function(ctx)
            except Skip as skip:
                outcome = ("skipped", str(skip))
            except Exception:
                outcome = ("failure", traceback.format_exc())
            finally:
                stopped = ctx.close()
                if stopped and outcome is None:
                    outcome = ("failure", "\n".join(stopped))
        seconds = time.monotonic() - started
        word = "OK" if outcome is None else outcome[0].upper()
        print("[ %7s ] %s (%.1f s)" % (word, function.__name__, seconds), flush=True)
        if outcome is not None:
            print(outcome[1], flush=True)
        results.append((function.__name__, seconds, outcome))
    os.makedirs(os.path.join(tools_dir, "test-results"), exist_ok=True)
    failures = sum(1 for r in results if r[2] and r[2][0] == "failure")
    with open(os.path.join(tools_dir, "test-results", suite + ".xml"), "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<testsuites>\n')
        f.write('<testsuite name="%s" tests="%d" failures="%d">\n' % (suite, len(results), failures))
        for name, seconds, outcome in results:
            if outcome is None:
                f.write('<testcase name="%s" classname="%s" time="%.3f"/>\n' % (name, suite, seconds))
            else:
                tag = "failure" if outcome[0] == "failure" else "skipped"
                f.write('<testcase name="%s" classname="%s" time="%.3f">\n<%s message=%s/>\n</testcase>\n'
                        % (name, suite, seconds, tag, quoteattr(outcome[1][-2000:])))
        f.write("</testsuite>\n</testsuites>\n")
    print("%d tests, %d failed" % (len(results), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
