#!/usr/bin/env python3
"""The nginx template (deploy/nginx.conf), black box: the real nginx over HTTPS in front of
one qelt-server, serving a versioned tree whose folders are relative symlinks into the live
version. What it must show: files through those symlinks, nothing through a symlink that
leads out, no folder and no dot file, and nginx's own refusals (403, 404, 413, 429, 502) as
short plain UTF-8 sentences, since the launcher's registration window shows such a body as
it is. Results go to RESULTS_DIR/nginx.xml.
Usage: nginx_test.py RESULTS_DIR    (tests/deploy/run.sh calls it)"""

import http.client
import os
import re
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import traceback

from case_results import Failure, check, run_case, write_results

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SERVER = os.path.join(ROOT, "build", "tools", "qelt-server")
MAP = bytes(range(256)) * 64


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_tree(work):
    """A tree as a versioned publish leaves it, plus what must never be served."""
    tree = os.path.join(work, "tree")
    version = os.path.join(tree, "versions", "3")
    for folder in ("launcher", "patch/data", "downloads"):
        os.makedirs(os.path.join(version, folder))
    os.makedirs(os.path.join(tree, ".git"))
    files = {"launcher/manifest.txt": b"00000000\tdata/map1.att\n", "patch/data/map1.att": MAP,
             "launcher/files.txt": b"qelt-files 1\n", "launcher/files.sig": b"ecdsa-p256 00\n",
             "downloads/Qelt-Data.exe": b"MZ package", "patch/.hidden": b"secret",
             "launcher/files.txt.bak": b"secret"}
    for name, data in files.items():
        with open(os.path.join(version, name), "wb") as f:
            f.write(data)
    with open(os.path.join(tree, ".git", "config"), "wb") as f:
        f.write(b"[core] secret")
    with open(os.path.join(work, "outside.txt"), "wb") as f:
        f.write(b"secret outside the tree")
    os.symlink("../../../../outside.txt", os.path.join(version, "patch", "leak.txt"))
    os.symlink("versions/3", os.path.join(tree, "current"))
    for top in ("launcher", "patch", "downloads"):
        os.symlink("current/" + top, os.path.join(tree, top))
    return tree


class Edge:
    """qelt-server and nginx with the template, on free loopback ports."""

    def __init__(self, work, tree):
        self.work = work
        self.processes = []
        self.server_log = open(os.path.join(work, "server.log"), "wb")
        try:
            self.start(tree)
        except BaseException:
            self.stop()  # nothing it started outlives a failed start
            raise

    def start(self, tree):
        work = self.work
        port_file = os.path.join(work, "server.port")
        self.server = subprocess.Popen(
            [SERVER, "--root", tree, "--port", "0", "--port-file", port_file,
             "--db", "sqlite:" + os.path.join(work, "qelt.db"), "--trusted-proxy", "127.0.0.1",
             "--register-limit", "0"], stdout=self.server_log, stderr=subprocess.STDOUT)
        self.processes.append(self.server)
        for _ in range(100):
            if os.path.exists(port_file):
                break
            time.sleep(0.05)
        check(os.path.exists(port_file), "qelt-server did not start")
        upstream = "server 127.0.0.1:%s;" % open(port_file).read().strip()
        ca = os.path.join(work, "ca")
        subprocess.run([os.path.join(ROOT, "scripts", "test-ca.sh"), ca], check=True)
        self.ca = os.path.join(ca, "ca.pem")
        run = os.path.join(work, "nginx")
        os.makedirs(run)
        self.port = free_port()
        user = "user nobody %s;" % subprocess.run(["id", "-gn", "nobody"], capture_output=True,
                                                  text=True).stdout.strip() if os.geteuid() == 0 else ""
        # One registration a minute with a burst of one: the third from one address is refused.
        values = {"@RUN@": run, "@USER@": user, "@LISTEN@": "127.0.0.1:%d" % self.port,
                  "@CERT@": os.path.join(ca, "server.pem"), "@KEY@": os.path.join(ca, "server.key"),
                  "@TREE@": tree, "@UPSTREAMS@": upstream, "@REGISTER_RATE@": "1r/m",
                  "@REGISTER_BURST@": "1"}
        with open(os.path.join(ROOT, "deploy", "nginx.conf"), encoding="utf-8") as f:
            conf = f.read()
        for name, value in values.items():
            conf = conf.replace(name, value)
        settings = "\n".join(line for line in conf.splitlines() if not line.lstrip().startswith("#"))
        check(not re.search(r"@[A-Z_]+@", settings), "a place of the template is left unfilled")
        with open(os.path.join(run, "nginx.conf"), "w", encoding="utf-8") as f:
            f.write(conf)
        self.nginx = subprocess.Popen(["/usr/sbin/nginx", "-p", run, "-c", os.path.join(run, "nginx.conf"),
                                       "-e", os.path.join(run, "error.log"), "-g", "daemon off;"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        self.processes.append(self.nginx)
        for _ in range(100):
            if self.nginx.poll() is not None:
                break
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.1)
        with open(os.path.join(run, "error.log")) as f:
            raise Failure("nginx did not start: " + f.read())

    def request(self, method, path, body=None, source="127.0.0.1", headers=None):
        context = ssl.create_default_context(cafile=self.ca)
        conn = http.client.HTTPSConnection("127.0.0.1", self.port, context=context, timeout=30,
                                           source_address=(source, 0))
        try:
            conn.request(method, path, body, headers or {})
            response = conn.getresponse()
            return response.status, response.read(), response.getheader("Content-Type", "")
        finally:
            conn.close()

    def stop(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(30)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        self.server_log.close()


def check_sentence(answer, status, text, what):
    """nginx's refusal: the status, and exactly the sentence, plain UTF-8 without markup."""
    got, body, content_type = answer
    check(got == status, f"{what}: status {got}, not {status}")
    check(content_type == "text/plain; charset=utf-8", f"{what}: Content-Type {content_type!r}")
    try:
        sentence = body.decode("utf-8")
    except UnicodeDecodeError:
        raise Failure(f"{what}: the body is not UTF-8: {body!r}")
    check("<" not in sentence and ">" not in sentence, f"{what}: markup in {sentence!r}")
    check(sentence == text, f"{what}: {sentence!r}")


def files_through_version_links_and_nothing_else(edge):
    for path, data in (("/launcher/manifest.txt", b"00000000\tdata/map1.att\n"),
                       ("/launcher/files.txt", b"qelt-files 1\n"),
                       ("/launcher/files.sig", b"ecdsa-p256 00\n"),
                       ("/patch/data/map1.att", MAP), ("/downloads/Qelt-Data.exe", b"MZ package")):
        status, body, _ = edge.request("GET", path)
        check(status == 200 and body == data, f"{path}: {status}")
    for path in ("/patch/data/", "/patch/data", "/patch/", "/patch", "/downloads/", "/",
                 "/patch/.hidden", "/patch/%2ehidden", "/.git/config", "/versions/3/patch/data/map1.att",
                 "/patch/leak.txt", "/patch/missing.bin", "/launcher/", "/launcher/files.txt.bak"):
        answer = edge.request("GET", path)
        check(b"secret" not in answer[1], f"{path} served a secret")
        check_sentence(answer, 404, "Không tìm thấy.", path)


def refusals_are_plain_sentences(edge):
    form = "account=Edge0001&password=secret1&email=a%40b.c"
    headers = {"Content-Type": "application/x-www-form-urlencoded"}
    check_sentence(edge.request("POST", "/launcher/register", "a" * 5000, "127.0.1.1", headers),
                   413, "Yêu cầu quá lớn.", "a 5000-byte registration")
    check_sentence(edge.request("GET", "/launcher/register", None, "127.0.1.2"),
                   403, "Không được phép.", "GET /launcher/register")
    for n in ("0001", "0002"):
        status, body, _ = edge.request("POST", "/launcher/register", form.replace("0001", n), "127.0.1.3", headers)
        check(status == 200, f"registration {n}: {status} {body!r}")
    check_sentence(edge.request("POST", "/launcher/register", form.replace("0001", "0003"), "127.0.1.3",
                                headers), 429, "Bạn gửi quá nhiều yêu cầu, hãy thử lại sau ít phút.",
                   "a third registration within the minute")
    edge.server.terminate()
    edge.server.wait(30)
    check_sentence(edge.request("POST", "/launcher/register", form.replace("0001", "0004"), "127.0.1.4",
                                headers), 502, "Máy chủ đang bận, hãy thử lại sau.",
                   "a registration with no instance up")


CASES = [files_through_version_links_and_nothing_else, refusals_are_plain_sentences]


def main():
    results_dir = os.path.abspath(sys.argv[1])
    os.makedirs(results_dir, exist_ok=True)
    work = tempfile.mkdtemp(prefix="qelt-nginx-test-")
    os.chmod(work, 0o755)  # nginx's workers run as nobody
    results = []
    edge = None
    try:
        try:
            edge = Edge(work, make_tree(work))
        except Exception as e:
            results.append(("EdgeComesUp", str(e) if isinstance(e, Failure) else traceback.format_exc()))
        for case in CASES if edge else []:
            run_case("Nginx", case, (edge,), results)
    finally:
        if edge:
            edge.stop()
        subprocess.run(["rm", "-rf", work])
    write_results(os.path.join(results_dir, "nginx.xml"), "Nginx", results)
    return 0 if all(message is None for _, message in results) else 1


if __name__ == "__main__":
    sys.exit(main())
