#!/usr/bin/env python3
"""Network-change lab: office -> hotel -> office, measured, in network namespaces made for the run.

Topology (every namespace and veth pair is made here and removed on exit, also on failure):

    client --c-off/o-cli-- office (router, dnsmasq, intranet HTTPS) --o-net/n-off-- internet
    client --c-net/n-cli-- internet (dnsmasq with the edge record, two edge nodes)

The client always asks the resolver at 10.53.0.53; the office and the internet each own that address, so
the resolver the client reaches moves with its addresses and routes. Moving the client is real: its
addresses, links and default route change, and the library's netlink monitor sees it.

Exit status: 0 when every figure is within its bound and nothing was misrouted (or when namespaces cannot
be made: the lab is then skipped), 1 otherwise. Figures go to <build>/lab/results.json.
"""
import argparse
import json
import os
import secrets
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lab_report  # noqa: E402

INTERNAL_DOMAIN = "corp.test"
EXTERNAL_DOMAIN = "ext.test"
RESOLVER = "10.53.0.53"
INTRANET_ADDR = "10.10.0.10"
OFFICE_DNS_ADDR = "10.10.0.53"
EDGE_ADDRS = ("203.0.113.11", "203.0.113.12")
EDGE_NAMES = ("edge1." + EXTERNAL_DOMAIN, "edge2." + EXTERNAL_DOMAIN)
OFFICE_CLIENT = ("10.10.0.100/24", "10.10.0.1")
HOTEL_CLIENT = ("100.64.0.100/24", "100.64.0.1")
STOP_WAIT_S = 70


def mono_ms():
    return time.clock_gettime(time.CLOCK_MONOTONIC) * 1000.0


class Lab:
    def __init__(self, args):
        self.args = args
        tag = "oxl%d" % (os.getpid() % 100000)
        self.ns = {"cli": tag + "-cli", "off": tag + "-off", "net": tag + "-net"}
        self.made_ns = []
        self.procs = []
        self.lines = []  # (t_ms, source, text)
        self.lock = threading.Lock()
        self.tmp = tempfile.mkdtemp(prefix="oxl-lab-")
        os.chmod(self.tmp, 0o700)
        self.password = secrets.token_hex(16)
        self.edge = None
        self.client = None
        self.cleaned = False

    # ---- plumbing -------------------------------------------------------------------------------
    def sh(self, *cmd, ns=None, check=True):
        full = (["ip", "netns", "exec", self.ns[ns]] if ns else []) + list(cmd)
        r = subprocess.run(full, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if check and r.returncode != 0:
            raise RuntimeError("%s: %s" % (" ".join(full), r.stderr.strip()))
        return r

    def ip(self, ns, *cmd):
        return self.sh("ip", "-n", self.ns[ns], *cmd)

    def batch(self, ns, commands):
        """Runs several ip commands in one process, so that a move takes milliseconds."""
        t0 = mono_ms()
        r = subprocess.run(["ip", "-n", self.ns[ns], "-batch", "-"], input="\n".join(commands) + "\n",
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if r.returncode != 0:
            raise RuntimeError("ip -batch: %s" % r.stderr.strip())
        return t0, mono_ms()

    def mark(self, text):
        with self.lock:
            self.lines.append((mono_ms(), "lab", text))
        if self.args.verbose:
            print("lab: " + text, flush=True)

    def spawn(self, name, ns, cmd, stdin_text=None):
        proc = subprocess.Popen(["ip", "netns", "exec", self.ns[ns]] + cmd, stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=open(os.path.join(self.tmp, name + ".err"), "w"),
                                text=True, bufsize=1)
        self.procs.append((name, proc))
        if stdin_text is not None:
            proc.stdin.write(stdin_text + "\n")
            proc.stdin.flush()
        ready = threading.Event()

        def reader():
            for raw in proc.stdout:
                raw = raw.rstrip("\n")
                t = mono_ms()
                text = raw
                if raw.startswith("T="):
                    stamp, _, text = raw.partition(" ")
                    try:
                        t = float(stamp[2:])
                    except ValueError:
                        pass
                with self.lock:
                    self.lines.append((t, name, text))
                if self.args.verbose and not text.startswith("req ") and not text.startswith("edge node"):
                    print("%s: %s" % (name, text), flush=True)
                if text.startswith("ready") or text.startswith("start "):
                    ready.info = text
                    ready.set()
        threading.Thread(target=reader, daemon=True).start()
        proc.ready = ready
        return proc

    def wait_ready(self, proc, name, timeout=20):
        if not proc.ready.wait(timeout):
            err = open(os.path.join(self.tmp, name + ".err")).read()
            raise RuntimeError("%s did not start: %s" % (name, err[-2000:]))
        return proc.ready.info

    def wait_for(self, predicate, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with self.lock:
                found = predicate(list(self.lines))
            if found is not None:
                return found
            time.sleep(0.02)
        return None

    def cleanup(self):
        if self.cleaned:
            return
        self.cleaned = True
        # The lab's programs end when their standard input closes; dnsmasq on SIGTERM.
        for name, proc in reversed(self.procs):
            if proc.poll() is None:
                if name.startswith("dns-"):
                    proc.terminate()
                try:
                    proc.stdin.close()
                except OSError:
                    pass
        deadline = time.monotonic() + 10
        for name, proc in reversed(self.procs):
            try:
                proc.wait(max(0.1, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                proc.terminate()
                try:
                    proc.wait(3)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
        for ns in reversed(self.made_ns):
            subprocess.run(["ip", "netns", "del", ns], stderr=subprocess.DEVNULL)
            shutil.rmtree(os.path.join("/etc/netns", ns), ignore_errors=True)
        try:
            os.rmdir("/etc/netns")
        except OSError:
            pass
        # What the programs wrote to standard error stays for reading after the run.
        logs = os.path.join(self.args.build, "lab", "logs")
        os.makedirs(logs, exist_ok=True)
        for name, _ in self.procs:
            src = os.path.join(self.tmp, name + ".err")
            if os.path.exists(src):
                shutil.copyfile(src, os.path.join(logs, name + ".err"))
        shutil.rmtree(self.tmp, ignore_errors=True)

    # ---- set-up ---------------------------------------------------------------------------------
    def make_namespaces(self):
        for key in ("cli", "off", "net"):
            self.sh("ip", "netns", "add", self.ns[key])
            self.made_ns.append(self.ns[key])
            self.ip(key, "link", "set", "lo", "up")
        link = lambda a, an, b, bn: self.sh("ip", "link", "add", a, "netns", self.ns[an], "type", "veth",
                                            "peer", "name", b, "netns", self.ns[bn])
        link("c-off", "cli", "o-cli", "off")
        link("c-net", "cli", "n-cli", "net")
        link("o-net", "off", "n-off", "net")
        # IPv4 only: IPv6 link-local addresses would come and go with the links and add changes the lab
        # does not make on purpose.
        for key in ("cli", "off", "net"):
            self.sh("sysctl", "-qw", "net.ipv6.conf.all.disable_ipv6=1", ns=key)
            self.sh("sysctl", "-qw", "net.ipv6.conf.default.disable_ipv6=1", ns=key)
        # Office: LAN router with its resolver and intranet, and a way out to the internet.
        self.batch("off", [
            "addr add %s/32 dev lo" % RESOLVER, "addr add %s/32 dev lo" % INTRANET_ADDR,
            "addr add %s/32 dev lo" % OFFICE_DNS_ADDR, "addr add 10.10.0.1/24 dev o-cli",
            "addr add 172.16.0.1/30 dev o-net", "link set o-cli up", "link set o-net up",
            "route add default via 172.16.0.2"])
        self.sh("sysctl", "-qw", "net.ipv4.ip_forward=1", ns="off")
        # Internet: its resolver, the edge nodes, the hotel network. It does not forward: nobody in the
        # hotel reaches the office's private addresses, only the edge (local here) does.
        self.batch("net", [
            "addr add %s/32 dev lo" % RESOLVER, "addr add %s/32 dev lo" % EDGE_ADDRS[0],
            "addr add %s/32 dev lo" % EDGE_ADDRS[1], "addr add 100.64.0.1/24 dev n-cli",
            "addr add 172.16.0.2/30 dev n-off", "link set n-cli up", "link set n-off up",
            "route add 10.10.0.0/24 via 172.16.0.1",
            # A hotel guest's packets to the office's private network are refused at once.
            "rule add iif n-cli to 10.0.0.0/8 prohibit"])
        # Resolver files that "ip netns exec" puts in place of /etc/resolv.conf.
        for key, server in (("cli", RESOLVER), ("net", OFFICE_DNS_ADDR), ("off", RESOLVER)):
            d = os.path.join("/etc/netns", self.ns[key])
            os.makedirs(d, exist_ok=True)
            with open(os.path.join(d, "resolv.conf"), "w") as f:
                f.write("nameserver %s\noptions timeout:1 attempts:2\n" % server)
            with open(os.path.join(d, "hosts"), "w") as f:
                f.write("127.0.0.1 localhost\n")

    def make_pki(self):
        """A certificate authority for this run: the intranet's and the edge nodes' certificates."""
        t = self.tmp
        ossl = lambda *a: self.sh("openssl", *a)
        ossl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "2",
             "-subj", "/CN=oxl lab root", "-keyout", t + "/ca.key", "-out", t + "/ca.pem",
             "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        for name, sans in (("intranet", "DNS:intranet.%s" % INTERNAL_DOMAIN),
                           ("edge", "DNS:%s,DNS:%s" % EDGE_NAMES)):
            ossl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-subj",
                 "/CN=" + name, "-keyout", "%s/%s.key" % (t, name), "-out", "%s/%s.csr" % (t, name))
            with open("%s/%s.ext" % (t, name), "w") as f:
                f.write("subjectAltName=%s\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                        "extendedKeyUsage=serverAuth\n" % sans)
            ossl("x509", "-req", "-in", "%s/%s.csr" % (t, name), "-CA", t + "/ca.pem", "-CAkey", t + "/ca.key",
                 "-CAcreateserial", "-days", "2", "-extfile", "%s/%s.ext" % (t, name),
                 "-out", "%s/%s.pem" % (t, name))
        os.unlink(t + "/ca.key")

    def dnsmasq(self, name, ns, addresses, records):
        cmd = ["dnsmasq", "--keep-in-foreground", "--conf-file=/dev/null", "--no-resolv", "--no-hosts",
               "--no-poll", "--bind-interfaces", "--pid-file=", "--user=root", "--log-facility=-"]
        cmd += ["--listen-address=" + a for a in addresses] + records
        self.spawn(name, ns, cmd)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            listening = self.sh("ss", "-Hlun", ns=ns).stdout
            if all("%s:53 " % a in listening for a in addresses):
                return
            time.sleep(0.05)
        raise RuntimeError("%s did not start" % name)

    def start_servers(self, lifetime):
        b = self.args.build
        t = self.tmp
        intranet = self.spawn("intranet", "off", [b + "/lab/oxl_lab_servers", "intranet", "--host", INTRANET_ADDR,
                                                  "--cert", t + "/intranet.pem", "--key", t + "/intranet.key"])
        info = self.wait_ready(intranet, "intranet")
        self.intranet_port = int(info.rsplit(":", 1)[1].split("/")[0])
        self.url = "https://intranet.%s:%d/lab.txt" % (INTERNAL_DOMAIN, self.intranet_port)
        self.dnsmasq("dns-office", "off", [RESOLVER, OFFICE_DNS_ADDR], [
            "--local=/%s/" % INTERNAL_DOMAIN,
            "--srv-host=_pelko-zds._tcp.%s,intranet.%s,%d,10,0" % (INTERNAL_DOMAIN, INTERNAL_DOMAIN,
                                                                  self.intranet_port),
            "--host-record=intranet.%s,%s" % (INTERNAL_DOMAIN, INTRANET_ADDR),
            # Public names resolve from the office too (its resolver would ask the internet for them).
            "--host-record=%s,%s" % (EDGE_NAMES[0], EDGE_ADDRS[0]),
            "--host-record=%s,%s" % (EDGE_NAMES[1], EDGE_ADDRS[1])])
        self.edge = self.spawn("edge", "net", [
            b + "/lab/oxl_lab_servers", "edge", "--domain", INTERNAL_DOMAIN, "--host", "0.0.0.0", "--port", "443",
            "--cert", t + "/edge.pem", "--key", t + "/edge.key", "--internal-trust", t + "/ca.pem",
            "--cookie-domain", EXTERNAL_DOMAIN, "--lifetime", str(lifetime), "--user", "alice",
            "--intranet-host", "intranet." + INTERNAL_DOMAIN, "--intranet-port", str(self.intranet_port),
            "--node0-name", EDGE_NAMES[0], "--node1-name", EDGE_NAMES[1]], stdin_text=self.password)
        info = self.wait_ready(self.edge, "edge")
        ports = dict(kv.split("=") for kv in info.split()[2:])
        self.edge_ports = (int(ports["node0"]), int(ports["node1"]))
        self.dnsmasq("dns-internet", "net", [RESOLVER], [
            "--local=/%s/" % EXTERNAL_DOMAIN,
            "--srv-host=_brisel-edge._tls.%s,%s,%d,10,0" % (EXTERNAL_DOMAIN, EDGE_NAMES[0], self.edge_ports[0]),
            "--srv-host=_brisel-edge._tls.%s,%s,%d,20,0" % (EXTERNAL_DOMAIN, EDGE_NAMES[1], self.edge_ports[1]),
            "--host-record=%s,%s" % (EDGE_NAMES[0], EDGE_ADDRS[0]),
            "--host-record=%s,%s" % (EDGE_NAMES[1], EDGE_ADDRS[1])])

    # ---- moves ----------------------------------------------------------------------------------
    def to_office(self):
        return self.batch("cli", ["addr flush dev c-net", "link set c-net down", "link set c-off up",
                                  "addr add %s dev c-off" % OFFICE_CLIENT[0],
                                  "route replace default via %s" % OFFICE_CLIENT[1]])

    def to_hotel(self):
        return self.batch("cli", ["addr flush dev c-off", "link set c-off down", "link set c-net up",
                                  "addr add %s dev c-net" % HOTEL_CLIENT[0],
                                  "route replace default via %s" % HOTEL_CLIENT[1]])

    def storm(self, changes, seconds):
        """`changes` address changes in `seconds`: the client swaps its office address for the hotel one
        and back, one change at a time, and ends where it started (in the office)."""
        self.batch("cli", ["link set c-net up"])
        proc = subprocess.Popen(["ip", "-n", self.ns["cli"], "-force", "-batch", "-"], stdin=subprocess.PIPE,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, text=True, bufsize=1)
        step = seconds / changes
        t0 = mono_ms()
        start = time.monotonic()
        sequence = []
        for i in range(changes // 2):
            if i % 2 == 0:
                sequence += ["addr add %s dev c-net" % HOTEL_CLIENT[0], "addr del %s dev c-off" % OFFICE_CLIENT[0]]
            else:
                sequence += ["addr add %s dev c-off" % OFFICE_CLIENT[0], "addr del %s dev c-net" % HOTEL_CLIENT[0]]
        # Each office address removal takes the default route with it; it is put back with the address.
        for i, command in enumerate(sequence):
            proc.stdin.write(command + "\n")
            if command.startswith("addr add") and "c-off" in command:
                proc.stdin.write("route replace default via %s\n" % OFFICE_CLIENT[1])
            elif command.startswith("addr add") and "c-net" in command:
                proc.stdin.write("route replace default via %s\n" % HOTEL_CLIENT[1])
            proc.stdin.flush()
            delay = start + (i + 1) * step - time.monotonic()
            if delay > 0:
                time.sleep(delay)
        proc.stdin.close()
        proc.wait()
        t1 = mono_ms()
        self.batch("cli", ["route replace default via %s" % OFFICE_CLIENT[1], "link set c-net down"])
        return t0, t1, len(sequence)

    # ---- the script -----------------------------------------------------------------------------
    def run(self):
        a = self.args
        self.make_namespaces()
        self.make_pki()
        self.start_servers(a.lifetime)
        self.to_office()
        self.mark("phase 1 office")
        self.client = self.spawn("client", "cli", [
            a.build + "/lab/oxl_lab_client", "--user", "alice@" + INTERNAL_DOMAIN, "--trust", self.tmp + "/ca.pem",
            "--url", self.url, "--internal-domain", INTERNAL_DOMAIN, "--external-domain", EXTERNAL_DOMAIN,
            "--interval-ms", str(a.interval_ms)] + (["--log-level", str(a.log_level)] if a.log_level else []),
            stdin_text=self.password)
        self.wait_ready(self.client, "client", timeout=30)
        time.sleep(a.office_seconds)

        self.mark("phase 2 hotel")
        t0, t1 = self.to_hotel()
        self.mark("moved hotel start=%.1f end=%.1f" % (t0, t1))
        got = self.wait_for(lambda ls: next((t for t, s, x in ls if s == "client" and t > t0
                                             and x.startswith("obs config ")), None), 30)
        if got is None:
            self.mark("no edge configuration within 30 s")

        self.mark("phase 3 stay %d s" % a.stay)
        time.sleep(a.stay)

        self.mark("phase 4 failover")
        self.edge.stdin.write("refuse 0\n")
        self.edge.stdin.flush()
        self.wait_for(lambda ls: next((t for t, s, x in ls if s == "edge" and x.startswith("refused")), None), 10)
        time.sleep(a.failover_seconds)

        self.mark("phase 5 office")
        t0, t1 = self.to_office()
        self.mark("moved office start=%.1f end=%.1f" % (t0, t1))
        self.wait_for(lambda ls: next((t for t, s, x in ls if s == "client" and t > t0
                                       and x.startswith("obs visibility internal=1")), None), 30)
        time.sleep(a.settle_seconds)

        self.mark("phase 6 storm")
        s0, s1, n = self.storm(a.storm_changes, a.storm_seconds)
        self.mark("storm start=%.1f end=%.1f changes=%d" % (s0, s1, n))
        time.sleep(a.storm_settle_seconds)
        self.mark("end")
        self.client.stdin.write("quit\n")
        self.client.stdin.flush()
        quit_at = mono_ms()
        try:
            # Ending the session waits for an edge configuration request in flight, which may take the
            # request's own transfer limit (60 s).
            self.client.wait(STOP_WAIT_S)
        except subprocess.TimeoutExpired:
            self.mark("client did not stop within %d s" % STOP_WAIT_S)
            self.client_stuck = True
            if shutil.which("gdb"):
                r = subprocess.run(["gdb", "-p", str(self.client.pid), "-batch", "-ex", "thread apply all bt"],
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
                os.makedirs(os.path.join(a.build, "lab"), exist_ok=True)
                with open(os.path.join(a.build, "lab", "client-stuck.txt"), "w") as f:
                    f.write(r.stdout)
        self.mark("client exited rc=%s ms=%.0f" % (self.client.returncode, mono_ms() - quit_at))
        time.sleep(0.2)


def namespaces_available():
    if os.geteuid() != 0:
        return "not root"
    for tool in ("ip", "dnsmasq", "openssl"):
        if shutil.which(tool) is None:
            return tool + " is not installed"
    probe = "oxlprobe%d" % os.getpid()
    r = subprocess.run(["ip", "netns", "add", probe], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if r.returncode != 0:
        return "cannot create a network namespace: " + r.stderr.strip()
    subprocess.run(["ip", "netns", "del", probe])
    return None


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--build", default="build")
    p.add_argument("--stay", type=int, default=120, help="seconds in the hotel with the short cookie")
    p.add_argument("--quick", action="store_true", help="a 30-second stay instead of two minutes")
    p.add_argument("--lifetime", type=int, default=20, help="X-Auth cookie lifetime, seconds")
    p.add_argument("--interval-ms", type=int, default=200)
    p.add_argument("--office-seconds", type=float, default=3)
    p.add_argument("--failover-seconds", type=float, default=20)
    p.add_argument("--settle-seconds", type=float, default=3)
    p.add_argument("--storm-changes", type=int, default=200)
    p.add_argument("--storm-seconds", type=float, default=2)
    p.add_argument("--storm-settle-seconds", type=float, default=20)
    p.add_argument("--verbose", action="store_true")
    p.add_argument("--log-level", type=int, default=0, help="the client's log level (2..6) into logs/client.err")
    p.add_argument("--reanalyse", metavar="JOURNAL", help="only analyse a journal.tsv of an earlier run")
    args = p.parse_args()
    if args.quick:
        args.stay = 30
    args.build = os.path.abspath(args.build)

    if args.reanalyse:
        lines = []
        with open(args.reanalyse) as f:
            for row in f:
                t, source, text = row.rstrip("\n").split("\t", 2)
                lines.append((float(t), source, text))
        report = lab_report.analyse(lines, args, 0, None)
        print(lab_report.render(report, lines))
        return 0 if report["passed"] else 1

    why = namespaces_available()
    if why:
        print("lab: skipped (%s); run 'make lab' as root on a machine that allows network namespaces" % why)
        return 0
    for prog in ("oxl_lab_client", "oxl_lab_servers"):
        if not os.access(os.path.join(args.build, "lab", prog), os.X_OK):
            print("lab: %s/lab/%s is missing; build it first" % (args.build, prog))
            return 1

    lab = Lab(args)

    def on_signal(signum, _frame):
        raise SystemExit(128 + signum)
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    started = time.monotonic()
    error = None
    try:
        lab.run()
    except (RuntimeError, OSError) as e:
        error = str(e)
    except SystemExit:
        lab.cleanup()
        print("lab: interrupted; namespaces, files and processes removed", flush=True)
        raise
    finally:
        lab.cleanup()
    duration = time.monotonic() - started
    with lab.lock:
        lines = sorted(lab.lines, key=lambda x: x[0])
    report = lab_report.analyse(lines, args, duration, error)
    out_dir = os.path.join(args.build, "lab")
    os.makedirs(out_dir, exist_ok=True)
    with open(os.path.join(out_dir, "results.json"), "w") as f:
        json.dump(report, f, indent=2)
    with open(os.path.join(out_dir, "timeline.txt"), "w") as f:
        f.write(lab_report.timeline_text(lines))
    # Everything heard, for --reanalyse.
    with open(os.path.join(out_dir, "journal.tsv"), "w") as f:
        f.writelines("%.1f\t%s\t%s\n" % line for line in lines)
    print(lab_report.render(report, lines))
    print("figures: %s" % os.path.join(out_dir, "results.json"))
    return 0 if report["passed"] else 1


if __name__ == "__main__":
    sys.exit(main())
