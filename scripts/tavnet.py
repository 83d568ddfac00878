"""Private test networks for the demo and the end-to-end tests.

Every host is a network namespace of its own, joined to an Ethernet segment
(a bridge in a namespace of its own) by a veth pair; a router host joins two
segments and forwards between them, directed broadcasts included. As root
the namespaces are named (ip netns); inside a user namespace (`unshare -rn`,
see enter_private_namespace()) each is held by a process of its own and
entered with nsenter, so a user other than root gets the same network, raw
Ethernet frames included. Nothing is attached to the machine's own network
and its routing is never touched. Everything is torn down by close()."""

import contextlib
import ctypes
import os
import signal
import subprocess
import time

CLONE_NEWNET = 0x40000000
CLONE_NEWUSER = 0x10000000
# Set when enter_private_namespace() made a user namespace: named network
# namespaces cannot be made there, held ones can.
in_user_namespace = False


def run(*argv, check=True):
    r = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       text=True)
    if check and r.returncode != 0:
        raise RuntimeError(f"{' '.join(argv)}: {r.stderr.strip()}")
    return r


def enter_private_namespace():
    """Moves this process (before it starts any thread) into a new network
    namespace with only the loopback, brought up: as root a plain one, else
    one inside a new user namespace (what `unshare -rn` makes). Everything
    the process and its children send stays inside. Returns "" or the
    reason it failed."""
    global in_user_namespace
    libc = ctypes.CDLL(None, use_errno=True)
    uid, gid = os.geteuid(), os.getegid()
    flags = CLONE_NEWNET if uid == 0 else CLONE_NEWUSER | CLONE_NEWNET
    if libc.unshare(flags) != 0:
        return f"unshare: {os.strerror(ctypes.get_errno())}"
    if uid != 0:
        in_user_namespace = True
        for name, text in (("setgroups", "deny"), ("uid_map", f"0 {uid} 1"),
                           ("gid_map", f"0 {gid} 1")):
            with open(f"/proc/self/{name}", "w") as f:
                f.write(text)
    r = run("ip", "link", "set", "lo", "up", check=False)
    if r.returncode != 0:
        return "cannot bring up the loopback: " + r.stderr.strip()
    return ""


class Network:
    def __init__(self, tag="net", held=None):
        """held: namespaces held by processes instead of named (the default
        inside a user namespace, where ip netns cannot mount its
        directory)."""
        self.prefix = f"tav{os.getpid() % 100000}{tag}"
        self.namespaces = []
        self.processes = []
        self.links = 0
        self.own_links = []
        self.held = in_user_namespace if held is None else held
        self.holders = {}  # namespace name -> the process holding it

    # -- building ---------------------------------------------------------

    def _ns(self, name):
        ns = f"{self.prefix}-{name}"
        if self.held:
            self.holders[ns] = subprocess.Popen(
                ["unshare", "-n", "sleep", "infinity"],
                start_new_session=True)
            deadline = time.time() + 5
            while (os.readlink("/proc/self/ns/net") ==
                   self._readlink_ns(ns) and time.time() < deadline):
                time.sleep(0.02)
        else:
            run("ip", "netns", "add", ns)
        self.namespaces.append(ns)
        run(*self._ip(ns), "link", "set", "lo", "up")
        return ns

    def _readlink_ns(self, ns):
        try:
            return os.readlink(f"/proc/{self.holders[ns].pid}/ns/net")
        except OSError:
            return ""

    def _enter(self, ns):
        """The words that run a command in namespace ns (None: our own)."""
        if not ns:
            return []
        if ns in self.holders:
            return ["nsenter", f"--net=/proc/{self.holders[ns].pid}/ns/net"]
        return ["ip", "netns", "exec", ns]

    def _netns_arg(self, ns):
        """How `ip link ... netns` names namespace ns."""
        return str(self.holders[ns].pid) if ns in self.holders else ns

    def segment(self, name):
        """An Ethernet segment: a bridge in a namespace of its own."""
        ns = self._ns("sw-" + name)
        run(*self._ip(ns), "link", "add", "br0", "type", "bridge")
        run(*self._ip(ns), "link", "set", "br0", "up")
        return ns

    def host(self, name, *attachments, gateway=None, forward=False):
        """A host with one interface per (segment, "a.b.c.d/len") pair.
        name None: this process's own namespace takes part as the host
        (its interfaces are then named after the network, so that they are
        removed with it)."""
        ns = self._ns(name) if name else None
        for i, (segment, address) in enumerate(attachments):
            self.links += 1
            inner = f"eth{i}" if ns else f"{self.prefix[:9]}h{i}"
            outer = f"p{self.links}"
            run(*self._ip(ns), "link", "add", inner, "type", "veth",
                "peer", "name", outer, "netns", self._netns_arg(segment))
            if not ns:
                self.own_links.append(inner)
            run(*self._ip(segment), "link", "set", outer, "master", "br0")
            run(*self._ip(segment), "link", "set", outer, "up")
            self.add_address(ns, inner, address)
            run(*self._ip(ns), "link", "set", inner, "up")
        if gateway:
            run(*self._ip(ns), "route", "add", "default", "via", gateway)
        if forward:
            for key in ("net.ipv4.ip_forward=1",
                        "net.ipv4.conf.all.bc_forwarding=1"):
                run(*self._enter(ns), "sysctl", "-qw", key)
            for i in range(len(attachments)):
                run(*self._enter(ns), "sysctl", "-qw",
                    f"net.ipv4.conf.eth{i}.bc_forwarding=1")
        return ns

    def _ip(self, ns):
        if ns in self.holders:
            return (*self._enter(ns), "ip")
        return ("ip", "-n", ns) if ns else ("ip",)

    def add_address(self, ns, device, address):
        """Adds "a.b.c.d/len" with its broadcast address, so that the host
        answers directed broadcasts."""
        run(*self._ip(ns), "addr", "add", address, "broadcast", "+",
            "dev", device)

    @contextlib.contextmanager
    def inside(self, ns):
        """This thread in namespace ns for the block: the sockets it makes
        there stay there (a client on another host of the network)."""
        libc = ctypes.CDLL(None, use_errno=True)
        path = (f"/proc/{self.holders[ns].pid}/ns/net" if ns in self.holders
                else f"/run/netns/{ns}")
        own = os.open("/proc/thread-self/ns/net", os.O_RDONLY)
        there = os.open(path, os.O_RDONLY)
        try:
            if libc.setns(there, CLONE_NEWNET) != 0:
                raise RuntimeError(f"setns {ns}: "
                                   f"{os.strerror(ctypes.get_errno())}")
            yield
        finally:
            libc.setns(own, CLONE_NEWNET)
            os.close(there)
            os.close(own)

    # -- running ----------------------------------------------------------

    def popen(self, ns, argv, **kwargs):
        """Starts argv in namespace ns (None: this process's own)."""
        p = subprocess.Popen(self._enter(ns) + list(argv),
                             start_new_session=True,
                             **kwargs)
        self.processes.append(p)
        return p

    def stop(self, p, timeout=5):
        if p.poll() is None:
            try:
                os.killpg(p.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                p.wait(timeout)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait()

    def close(self):
        for p in reversed(self.processes):
            self.stop(p)
        self.processes.clear()
        for ns in reversed(self.namespaces):
            holder = self.holders.pop(ns, None)
            if holder:  # the namespace goes with its last process
                holder.kill()
                holder.wait()
                continue
            # Processes left in a namespace would keep it alive: kill them.
            pids = run("ip", "netns", "pids", ns, check=False).stdout.split()
            for pid in pids:
                try:
                    os.kill(int(pid), signal.SIGKILL)
                except (ProcessLookupError, ValueError):
                    pass
            run("ip", "netns", "del", ns, check=False)
        self.namespaces.clear()
        for link in self.own_links:
            run("ip", "link", "del", link, check=False)
        self.own_links.clear()


def wait_for_file(path, timeout=30):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if os.path.exists(path):
            return True
        time.sleep(0.1)
    return False
