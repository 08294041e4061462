#!/usr/bin/env python3
"""The scaled deployment, black box. scripts/deploy-local.sh brings up PostgreSQL, two
qelt-server instances and nginx with HTTPS from a throw-away authority; the real launcher
under Wine updates and registers through it, HTTPS clients race for one name across the
instances, an instance is killed with SIGKILL mid-burst, PostgreSQL restarts under running
instances, and SIGTERM tears it all down. Results go to RESULTS_DIR/deploy.xml (and the
Wine program's own deploy_e2e.xml), which the summary line counts.
Usage: deploy_test.py RESULTS_DIR    (tests/deploy/run.sh prepares Wine and calls it)"""

import functools
import http.client
import http.server
import os
import queue
import random
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

import nacl.pwhash

from case_results import Failure, check, run_case, write_results

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TOOLS = os.path.join(ROOT, "build", "tools")
WIN = os.path.join(ROOT, "build", "windows-x64")
WINE = os.environ.get("QELT_WINE", "/usr/lib/wine/wine64")
PASSWORD = "s3cret!x"  # the one the Wine test types


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


# Every client gets its own loopback address (all of 127/8 is loopback on Linux), as
# players have their own: the per-address registration limits of nginx and of the
# instances then apply to each one separately, exactly as in production.
_sources = iter(f"127.0.{b}.{c}" for b in range(1, 250) for c in range(1, 255))
_sources_lock = threading.Lock()


def next_source():
    with _sources_lock:
        return next(_sources)


def request(base, method, path, body=None, ca=None, timeout=60):
    """One exchange from a fresh loopback address; (status, text), status 0 on no answer."""
    url = urllib.parse.urlsplit(base)
    source = (next_source(), 0)
    try:
        if url.scheme == "https":
            context = ssl.create_default_context(cafile=ca)
            conn = http.client.HTTPSConnection(url.hostname, url.port, context=context,
                                               timeout=timeout, source_address=source)
        else:
            conn = http.client.HTTPConnection(url.hostname, url.port, timeout=timeout,
                                              source_address=source)
        headers = {"Content-Type": "application/x-www-form-urlencoded"} if body else {}
        conn.request(method, path, body, headers)
        response = conn.getresponse()
        data = response.read()
        conn.close()
        return response.status, data.decode("utf-8", "replace")
    except (OSError, http.client.HTTPException):
        return 0, ""


def register(base, account, ca=None, email="p@zorvand.vn"):
    body = urllib.parse.urlencode([("account", account), ("password", PASSWORD),
                                   ("email", email)], quote_via=urllib.parse.quote)
    return request(base, "POST", "/launcher/register", body, ca)[0]


def port_open(url):
    parts = urllib.parse.urlsplit(url)
    try:
        socket.create_connection((parts.hostname, parts.port), timeout=2).close()
        return True
    except OSError:
        return False


class Stack:
    """scripts/deploy-local.sh in the background, and what its state file says."""

    def __init__(self, tree, log):
        env = dict(os.environ, QELT_DEPLOY_TREE=tree, QELT_DEPLOY_BUILD="0")
        self.proc = subprocess.Popen(["bash", "scripts/deploy-local.sh"], cwd=ROOT, env=env,
                                     stdout=subprocess.PIPE, stderr=log, text=True)
        lines = queue.Queue()
        threading.Thread(target=lambda: [lines.put(l) for l in self.proc.stdout],
                         daemon=True).start()
        self.state = {}
        deadline = time.time() + 180
        while not self.state and time.time() < deadline and self.proc.poll() is None:
            try:
                line = lines.get(timeout=1).strip()
            except queue.Empty:
                continue
            if line.startswith("State: "):
                self.state_file = line[len("State: "):]
                with open(self.state_file) as f:
                    self.state = dict(l.strip().split("=", 1) for l in f if "=" in l)
            elif line.startswith("CA file: "):
                self.ca_line = line[len("CA file: "):]
            elif line.startswith("https://"):
                self.url_line = line
        check(self.state, "deploy-local.sh did not bring the stack up (see deploy-local.log)")
        self.url = self.state["QELT_URL"]
        self.ca = self.state["QELT_CA"]
        check(self.url_line == self.url and self.ca_line == self.ca,
              "deploy-local.sh printed another URL or CA file than it runs")
        self.instances = [(self.state[f"QELT_INSTANCE_{n}_URL"],
                           int(self.state[f"QELT_INSTANCE_{n}_PID"]),
                           self.state[f"QELT_INSTANCE_{n}_LOG"])
                          for n in range(1, int(self.state["QELT_INSTANCES"]) + 1)]

    def sql(self, query):
        out = subprocess.run([os.path.join(self.state["QELT_PG_BIN"], "psql"),
                              self.state["QELT_PG_URL"], "-At", "-v", "ON_ERROR_STOP=1",
                              "-c", query], capture_output=True, text=True, timeout=30)
        check(out.returncode == 0, f"psql failed: {out.stderr}")
        return out.stdout.splitlines()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=60)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class RogueServer:
    """The same tree over HTTPS with a certificate from an authority nobody trusts."""

    def __init__(self, tree, ca_dir):
        handler = functools.partial(QuietHandler, directory=tree)
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.server.handle_error = lambda *args: None  # refused handshakes are the point
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(os.path.join(ca_dir, "server.pem"),
                                os.path.join(ca_dir, "server.key"))
        self.server.socket = context.wrap_socket(self.server.socket, server_side=True)
        self.url = f"https://127.0.0.1:{self.server.server_address[1]}"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


WINE_LOG = os.path.join(ROOT, "build", "deploy", "wine.log")


def run_wine(args, env=None, timeout=120):
    """Output to a file, never a pipe: Wine's own services may hold a pipe open for long."""
    with open(WINE_LOG, "a") as log:
        return subprocess.run([WINE] + args, env=env, timeout=timeout, stdin=subprocess.DEVNULL,
                              stdout=log, stderr=subprocess.STDOUT)


def publish(work):
    client = os.path.join(work, "published")
    os.makedirs(os.path.join(client, "data"))
    with open(os.path.join(client, "data", "readme.txt"), "wb") as f:
        f.write(b"Welcome to ZORVAND Online\r\n")
    with open(os.path.join(client, "data", "map1.att"), "wb") as f:
        f.write(os.urandom(65536))
    tree = os.path.join(work, "tree")
    subprocess.run([os.path.join(TOOLS, "qelt-publish"), client, tree], check=True,
                   stdout=subprocess.DEVNULL, timeout=60)
    os.chmod(work, 0o755)  # nginx's workers run as nobody
    return client, tree


def mixed_cases(name, count):
    """count different letter-case spellings of name."""
    check(2 ** sum(c.isalpha() for c in name) >= 2 * count, f"{name} has too few letters")
    spellings = set()
    while len(spellings) < count:
        spellings.add("".join(c.upper() if random.random() < 0.5 else c.lower() for c in name))
    return sorted(spellings)


def requests_seen(log):
    with open(log, errors="replace") as f:
        return sum(1 for line in f if "/launcher/register" in line)


# The cases, in the order they run against one stack.

def launcher_updates_and_registers_over_https(stack, ctx):
    """Launcher.exe under Wine, its own prefix trusting the test CA only for this run."""
    account = "pl%06d" % random.randrange(10**6)
    rogue = ctx["rogue"]
    # The refused server is a working one: only its authority differs.
    check(request(rogue.url, "GET", "/launcher/manifest.txt", ca=ctx["rogue_ca"])[0] == 200,
          "the rogue server does not serve the tree to a client that trusts it")
    added = run_wine([os.path.join(WIN, "trust_ca.exe"), "add", windows_path(stack.ca)])
    check(added.returncode == 0, f"trust_ca add failed (see {WINE_LOG})")
    try:
        env = dict(os.environ, QELT_DEPLOY_URL=stack.url, QELT_DEPLOY_ROGUE_URL=rogue.url,
                   QELT_DEPLOY_PUBLISHED=windows_path(ctx["published"]),
                   QELT_DEPLOY_ACCOUNT=account,
                   QELT_DEPLOY_SCREENSHOTS=windows_path(ctx["screenshots"]))
        xml = os.path.join(ctx["results"], "deploy_e2e.xml")
        run_wine([os.path.join(WIN, "qelt_deploy_e2e_tests.exe"),
                  "--gtest_output=xml:" + windows_path(xml)], env=env, timeout=600)
        check(os.path.exists(xml), "the Wine test program wrote no results")
    finally:
        run_wine([os.path.join(WIN, "trust_ca.exe"), "remove", windows_path(stack.ca)])
    rows = stack.sql(f"SELECT email, password_hash FROM accounts WHERE account = '{account}'")
    check(len(rows) == 1, f"{account} registered by the launcher: {len(rows)} rows")
    email, stored = rows[0].split("|", 1)
    check(email == "player@zorvand.vn", f"stored e-mail {email!r}")
    check(stored.startswith("$argon2id$"), "the password is not an Argon2id hash")
    check(nacl.pwhash.verify(stored.encode(), PASSWORD.encode()), "the hash does not verify")
    ctx["account"] = account


def duplicate_in_another_case_through_each_instance_409(stack, ctx):
    check("account" in ctx, "no account from the launcher case")
    account = ctx["account"]
    for url, _, _ in stack.instances:
        status = register(url, account.upper())
        check(status == 409, f"{account.upper()} at {url}: {status}, not 409")
    rows = stack.sql(f"SELECT count(*) FROM accounts WHERE lower(account) = '{account}'")
    check(rows == ["1"], f"rows for {account}: {rows}")


def fifty_concurrent_attempts_at_one_name_one_200(stack, ctx):
    name = "race" + "".join(random.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(4))
    spellings = mixed_cases(name, 50)
    seen_before = [requests_seen(log) for _, _, log in stack.instances]
    barrier = threading.Barrier(len(spellings))
    statuses = []

    def attempt(spelling):
        barrier.wait(timeout=30)
        statuses.append(register(stack.url, spelling, stack.ca))

    threads = [threading.Thread(target=attempt, args=(s,)) for s in spellings]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=300)
    check(statuses.count(200) == 1 and statuses.count(409) == 49,
          f"answers: {sorted(statuses)}")
    rows = stack.sql(f"SELECT count(*) FROM accounts WHERE lower(account) = '{name}'")
    check(rows == ["1"], f"rows for {name}: {rows}")
    seen = [requests_seen(log) - before
            for (_, _, log), before in zip(stack.instances, seen_before)]
    check(all(n > 0 for n in seen), f"not every instance took part: {seen}")


def postgres_restart_is_survived_by_each_instance(stack, ctx):
    data = stack.state["QELT_PG_DATA"]
    log = os.path.join(os.path.dirname(data), "server.log")
    # The new server logs to its file, never to a pipe of ours that it would hold open.
    restart = [os.path.join(stack.state["QELT_PG_BIN"], "pg_ctl"), "restart", "-D", data,
               "-l", log, "-m", "fast", "-w", "-t", "60"]
    if stack.state.get("QELT_PG_USER"):
        restart = ["runuser", "-u", stack.state["QELT_PG_USER"], "--"] + restart
    out = subprocess.run(restart, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL, timeout=90)
    check(out.returncode == 0, f"pg_ctl restart failed (see {log})")
    # Every pooled connection died with the restart: the first registration on each
    # instance must already go through a fresh one.
    for url, _, _ in stack.instances:
        account = "rs%06d" % random.randrange(10**6)
        status = register(url, account)
        check(status == 200, f"first registration at {url} after the restart: {status}")


def instance_killed_mid_burst_loses_no_acknowledged_registration(stack, ctx):
    victim_url, victim_pid, _ = stack.instances[0]
    names = ["kb%06d" % i for i in random.sample(range(10**6), 80)]
    work = queue.Queue()
    for n in names:
        work.put(n)
    answers = {}
    lock = threading.Lock()
    killed = threading.Event()

    def worker():
        while True:
            try:
                name = work.get_nowait()
            except queue.Empty:
                return
            status = register(stack.url, name, stack.ca)
            with lock:
                answers[name] = (status, killed.is_set())
                if len(answers) == 20 and not killed.is_set():
                    os.kill(victim_pid, signal.SIGKILL)
                    killed.set()

    threads = [threading.Thread(target=worker) for _ in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=600)
    check(killed.is_set(), "the burst ended before the kill")
    acknowledged = {n for n, (status, _) in answers.items() if status == 200}
    stored = set(stack.sql("SELECT account FROM accounts WHERE account LIKE 'kb%'"))
    lost = sorted(acknowledged - stored)
    check(not lost, f"acknowledged with 200 but not in PostgreSQL: {lost}")
    after = [status for status, late in answers.values() if late]
    check(after.count(200) > 0, f"no 200 after the kill: {sorted(after)}")
    check(not port_open(victim_url), "the killed instance still listens")
    # The edge goes on answering through the survivor.
    for _ in range(5):
        check(register(stack.url, "ka%06d" % random.randrange(10**6), stack.ca) == 200,
              "a registration after the burst was refused")
    status, text = request(stack.url, "GET", "/launcher/status", ca=stack.ca)
    check(status == 200 and text.startswith("online"), f"status after the kill: {status}")


def sigterm_stops_everything(stack, ctx):
    ports = [stack.url, stack.state["QELT_PG_URL"].replace("postgresql://qelt@", "http://")]
    ports += [url for url, _, _ in stack.instances]
    folder = os.path.dirname(stack.state_file)
    start = time.time()
    stack.stop()
    check(stack.proc.returncode == 0, f"deploy-local.sh ended with {stack.proc.returncode}")
    check(time.time() - start < 60, "teardown took more than a minute")
    still = [p for p in ports if port_open(p)]
    check(not still, f"still listening after SIGTERM: {still}")
    check(not os.path.exists(folder), f"{folder} was left behind")


CASES = [
    launcher_updates_and_registers_over_https,
    duplicate_in_another_case_through_each_instance_409,
    fifty_concurrent_attempts_at_one_name_one_200,
    postgres_restart_is_survived_by_each_instance,
    instance_killed_mid_burst_loses_no_acknowledged_registration,
    sigterm_stops_everything,
]


def main():
    results_dir = os.path.abspath(sys.argv[1])
    os.makedirs(results_dir, exist_ok=True)
    for stale in ("deploy.xml", "deploy_e2e.xml"):
        if os.path.exists(os.path.join(results_dir, stale)):
            os.remove(os.path.join(results_dir, stale))
    work = tempfile.mkdtemp(prefix="qelt-deploy-test-")
    ctx = {"results": results_dir,
           "screenshots": os.path.join(ROOT, "build", "deploy", "screenshots")}
    results = []
    stack = rogue = None
    log_path = os.path.join(ROOT, "build", "deploy", "deploy-local.log")
    try:
        with open(log_path, "w") as log:
            ctx["published"], tree = publish(work)
            ctx["rogue_ca"] = os.path.join(work, "rogue", "ca.pem")
            subprocess.run([os.path.join(ROOT, "scripts", "test-ca.sh"),
                            os.path.join(work, "rogue"), "Qelt Rogue CA"], check=True)
            rogue = ctx["rogue"] = RogueServer(tree, os.path.join(work, "rogue"))
            try:
                stack = Stack(tree, log)
            except Failure as e:
                results.append(("StackComesUp", str(e)))
            for case in CASES if stack else []:
                run_case("Deploy", case, (stack, ctx), results)
    finally:
        if stack:
            stack.stop()
        if rogue:
            rogue.stop()
        subprocess.run(["rm", "-rf", work])
        write_results(os.path.join(results_dir, "deploy.xml"), "Deploy", results)
    return 0 if all(message is None for _, message in results) else 1


if __name__ == "__main__":
    sys.exit(main())
