"""A class on one network share, on one machine: the cases of reliability/stress-shared.

Each case is one row of CASES (or of PATTERNS, for the cases named with numbers). A row names the
transport (SFTP through sshfs, SMB through smbnetfs), the layout (all computers on one namespace's
loopback, or each computer a network namespace with a host name and a veth link of its own), the
writers and records, the trouble and what may happen (writers killed, or allowed to give up).
Every case ends with the record checker on the server's copy (the index line by line), the
locks left, and, on computers of their own, review_placement.py.
"""

import dataclasses
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
SELF = HERE / "stress-shared"
FOLDER = "i/bkp_000416/My Documents/distance students/interactive problems/lb1"
PACKAGES = "openssh-server sshfs iproute2 samba samba-vfs-modules smbnetfs faketime util-linux procps gdb python3".split()
LETTERS = "abc"


@dataclass
class Case:
    name: str
    about: str
    kind: str = "sftp"  # sftp | smb
    layout: str = "lo"  # lo: mounts on one namespace's loopback; net: computers on links of their own
    computers: int = 2
    processes: int = 8
    records: int = 500
    mode: str = "stress"  # stress | bench | batch | requests | live
    # The writers keep records in their journals first (the tutor on a network folder); with
    # STRESS_CLICKS_WAIT=1 in the environment each click waits for the class folder instead.
    local_first: bool = True
    leave_pending: bool = False  # they leave with records still to send; the next start sends them
    pause_ms: int = 0  # between a writer's clicks
    sshfs_options: str = ""
    wraps: str = ""  # skew | same-host
    # gdb on writer 1 (pc-b): action (freeze|cut|kill), call (write|rename), at, secs, files
    victim: dict = field(default_factory=dict)
    # gdb on pc-a's writers, the first to reach the step: action, call, files, after
    breaker: dict = field(default_factory=dict)
    watch: str = ""  # freeze-holder | kill-holder | plant-lock | restart-sshd | fill-share | cut-pc-c
    proxy: tuple = ()  # pc-b through delay_proxy.py: delay ms, jitter ms, % of chunks held longer, by ms
    restart_dead: bool = False  # the mounts die: mounted again, every writer starts once more
    share_mb: int = 0  # the share a tmpfs of this size
    click_again: int = 0
    give_ups: str = ""  # allowed | kills
    pc_a_may_give_up: bool = False


def row(name, about, **kw):
    return Case(name, about, **kw)


def pair(name, about, **kw):
    kw.setdefault("processes", 6)
    kw.setdefault("records", 40)
    return Case(name, about, layout="net", **kw)


env_int = lambda name, default: int(os.environ.get(name, default))  # noqa: E731

CASES = [
    row("sshfs", "two sshfs mounts, default options",
        processes=env_int("PROCESSES", 8), records=env_int("RECORDS", 500)),
    row("sshfs-direct_io", "the same with -o direct_io", sshfs_options="-o direct_io",
        processes=env_int("PROCESSES", 8), records=env_int("RECORDS", 500)),
    row("smb", "Samba on loopback, two smbnetfs mounts", kind="smb",
        processes=env_int("PROCESSES", 8), records=env_int("RECORDS", 500)),
    row("clock-skew", "three mounts, the second computer's clock 1 h behind, the third's 1 h ahead",
        computers=3, processes=6, records=150, wraps="skew"),
    row("frozen-holder", "a writer of the second computer stopped for 60 s while it holds the files",
        processes=6, records=120, watch="freeze-holder", give_ups="allowed"),
    row("killed-holder", "a writer of the second computer killed while it holds the files",
        processes=6, records=120, watch="kill-holder", give_ups="kills"),
    row("planted-lock", "a lock nobody renews planted whenever the place is free, every 5 s",
        processes=10, records=60, watch="plant-lock"),
    row("same-host-name", "two computers of one host name, each its own process numbers",
        processes=8, records=150, wraps="same-host"),
    row("burst", "30 writers at once on two mounts", processes=30, records=20),
    pair("slow-link", "pc-b through a proxy adding 300 +- 100 ms one way",
         processes=env_int("SLOW_PROCESSES", 4), records=env_int("SLOW_RECORDS", 6), proxy=(300, 100, 0, 0)),
    pair("lossy-link", "pc-b through 300 +- 100 ms one way, 1 s more on 2 % of chunks",
         processes=8, records=6, proxy=(300, 100, 2, 1000)),
    pair("restart-reconnect", "sshfs -o reconnect; every sshd ended mid-run and started again",
         sshfs_options="-o reconnect,ServerAliveInterval=5,ServerAliveCountMax=3", watch="restart-sshd",
         click_again=20, pause_ms=100),
    pair("restart-dead", "every sshd ended mid-run, the mounts die; mounted again, every writer starts once more",
         watch="restart-sshd", restart_dead=True, leave_pending=True, click_again=20, pause_ms=100),
    pair("share-full", "the share a 12 MB tmpfs, filled for 10 s mid-run", share_mb=12, watch="fill-share",
         click_again=20, pause_ms=100),
    pair("lab", "30 writers on 3 computers; writer 1 frozen 30 s at its 5th write, pc-c cut off 20 s inside it",
         computers=3, processes=30, records=20, victim=dict(action="freeze", call="write", at=5, secs=30),
         watch="cut-pc-c", give_ups="allowed"),
    pair("quit-pending", "every writer leaves with records still to send; its next start sends them",
         processes=6, records=60, leave_pending=True),
    pair("killed-in-batch", "writer 1 killed at its 30th write to the record files, inside a batch",
         processes=6, records=60, victim=dict(action="kill", call="write", at=30, secs=0), give_ups="kills"),
    pair("two-tutors", "two tutors on one computer", computers=1, processes=2, records=200),
    row("bench", "the protocol's cost over one sshfs mount", computers=1, mode="bench"),
    row("bench-smb", "the same over one smbnetfs mount", kind="smb", computers=1, mode="bench"),
    row("requests", "SFTP requests and time per record, from the client's log", computers=1, mode="requests"),
    row("requests-smb", "SMB requests and time per record over smbnetfs, from Samba's audit", kind="smb",
        computers=1, mode="requests"),
    row("batch", "records sixteen at a time against the same one by one and the floor, over one sshfs mount",
        computers=1, mode="batch"),
    row("batch-smb", "the same over one smbnetfs mount", kind="smb", computers=1, mode="batch"),
    row("live", "classnotes-review --live through a read-only bind mount over a third mount",
        computers=3, mode="live"),
]

TOKEN = r"lb1/records\.lock\.breaking\.[0-9a-f]+\.new"
BREAKER_STEPS = {
    "token": dict(call="rename", files=TOKEN, after=""),
    "intent": dict(call="write", files="", after=TOKEN),
    "aside": dict(call="rename", files=r"records\.lock/holder", after=TOKEN),
    "folder": dict(call="rename", files=r"lb1/records\.lock", after=TOKEN),
    # letting go of its token, the break done
    "done": dict(call="rename", files=r"records\.lock\.breaking/holder", after=TOKEN),
}


def freeze_row(m):
    at = int(m["at"])
    secs = int(m["secs"] or 14 + at * 3 % 7)
    return pair(m[0], f"writer 1 (pc-b) frozen {secs} s at its write {at} to a record file",
                kind="smb" if m["kind"] == "smb" else "sftp",
                victim=dict(action="freeze", call="write", at=at, secs=secs))


def partition_row(m):
    return pair(m[0], f"pc-b's link down {m['secs']} s at writer 1's 5th write",
                victim=dict(action="cut", call="write", at=5, secs=int(m["secs"])), give_ups="allowed")


def release_row(m):
    at, secs = int(m["at"]), int(m["secs"] or 20)
    return pair(m[0], f"writer 1 frozen {secs} s at its move {at} of a lock's holder file (letting go)",
                computers=int(m["n"] or 2),
                victim=dict(action="freeze", call="rename", at=at, secs=secs, files=r"records\.lock/holder"))


def breaker_row(m):
    action = m["action"]
    return pair(m[0], f"writer 1 frozen 20 s at its 5th write; pc-a's first breaker: {action} at {m['step']}",
                computers=int(m["n"] or 2),
                victim=dict(action="freeze", call="write", at=5, secs=20),
                breaker=dict(action=action, **BREAKER_STEPS[m["step"]]),
                give_ups="kills" if action == "kill" else "allowed", pc_a_may_give_up=action != "kill")


# Rows named with numbers: freeze-sshfs-K[-S], partition-S, release-freeze-K[-S][-3pc],
# breaker-ACTION-STEP[-3pc] (-3pc: on three computers).
PATTERNS = [
    (r"freeze-(?P<kind>sshfs|smb)-(?P<at>\d+)(?:-(?P<secs>\d+))?", freeze_row),
    (r"partition-(?P<secs>\d+)", partition_row),
    (r"release-freeze-(?P<at>\d+)(?:-(?P<secs>\d+))?(?:-(?P<n>3)pc)?", release_row),
    (r"breaker-(?P<action>freeze|kill|cut)-(?P<step>token|intent|aside|folder|done)(?:-(?P<n>3)pc)?", breaker_row),
]

DEFAULT = ("sshfs sshfs-direct_io smb clock-skew frozen-holder killed-holder planted-lock same-host-name burst "
           "freeze-sshfs-3 freeze-sshfs-7 freeze-sshfs-12 freeze-smb-5 partition-20 partition-90 slow-link "
           "restart-reconnect restart-dead share-full lossy-link lab quit-pending killed-in-batch two-tutors "
           "release-freeze-1-3pc breaker-freeze-aside-3pc breaker-kill-token-3pc").split()


def case_named(name):
    for c in CASES:
        if c.name == name:
            return dataclasses.replace(c)
    for pattern, make in PATTERNS:
        m = re.fullmatch(pattern, name)
        if m:
            return make(m)
    return None


def say(text=""):
    print(text, flush=True)


def run(command, timeout=60, check=True, **kw):
    done = subprocess.run(command, timeout=timeout, **kw)
    if check and done.returncode != 0:
        raise RuntimeError(f"{' '.join(map(str, command))} ended with {done.returncode}")
    return done


def wait_for(test, tries, pause):
    for _ in range(tries):
        if test():
            return True
        time.sleep(pause)
    return test()


def quantile(values, p):
    return values[min(len(values) - 1, max(0, int(len(values) * p + 0.999) - 1))] if values else 0


def spread(values):
    v = sorted(values)
    return f"{len(v)}, median {quantile(v, 0.5)} ms, p99 {quantile(v, 0.99)} ms, longest {v[-1] if v else 0} ms"


class Machine:
    """The namespaces, servers, mounts and processes of one case; gone again on every path."""

    def __init__(self, base, build):
        self.base, self.build = base, build
        self.spaces, self.mounts, self.processes, self.frozen, self.groups = [], [], [], set(), []
        self.links_down = []
        self.stop = threading.Event()
        self.threads = []
        self.share_fs = None
        self.ssh = (f"-o IdentityFile={base}/user_key -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null "
                    "-o BatchMode=yes -o LogLevel=ERROR -o ConnectTimeout=5")

    def start(self, command, **kw):
        p = subprocess.Popen(command, **kw)
        self.processes.append(p)
        return p

    def background(self, body):
        t = threading.Thread(target=body, daemon=True)
        t.start()
        self.threads.append(t)

    def space(self, name):
        run(["ip", "netns", "add", name])
        self.spaces.append(name)
        run(["ip", "-n", name, "link", "set", "lo", "up"])
        return name

    def link(self, client, server, i):
        run(["ip", "-n", client, "link", "add", "eth0", "type", "veth", "peer", "name", f"to-pc{i}", "netns", server])
        run(["ip", "-n", client, "addr", "add", f"10.28.{i}.1/24", "dev", "eth0"])
        run(["ip", "-n", server, "addr", "add", f"10.28.{i}.2/24", "dev", f"to-pc{i}"])
        run(["ip", "-n", client, "link", "set", "eth0", "up"])
        run(["ip", "-n", server, "link", "set", f"to-pc{i}", "up"])

    def cut(self, client, secs):
        self.links_down.append(client)
        run(["ip", "-n", client, "link", "set", "eth0", "down"], check=False)
        self.stop.wait(secs)
        run(["ip", "-n", client, "link", "set", "eth0", "up"], check=False)

    def start_sftp(self, ns, work, listen):
        config = work / "sshd_config"
        config.write_text("".join(f"ListenAddress {a}\n" for a in listen) + f"""Port 2222
HostKey {self.base}/host_key
PidFile {work}/sshd.pid
AuthorizedKeysFile {self.base}/authorized_keys
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
MaxSessions 100
MaxStartups 100
Subsystem sftp internal-sftp
""")
        self.sshd(ns, work)
        ping = ["ip", "netns", "exec", ns, "timeout", "5", "ssh", "-p", "2222", *self.ssh.split(), "root@127.0.0.1",
                "true"]
        return wait_for(lambda: run(ping, check=False, stderr=subprocess.DEVNULL).returncode == 0, 50, 0.2)

    def sshd(self, ns, work):
        with open(work / "server.log", "ab") as log:
            self.start(["ip", "netns", "exec", ns, "/usr/sbin/sshd", "-D", "-e", "-f", str(work / "sshd_config")],
                       stderr=log)

    def start_smb(self, ns, work, interfaces, audit=False):
        s = work / "samba"
        for d in ("private", "lock", "state", "cache", "run", "ncalrpc"):
            (s / d).mkdir(parents=True, exist_ok=True)
        (s / "smb.conf").write_text(f"""[global]
server role = standalone server
interfaces = {interfaces}
bind interfaces only = yes
smb ports = 445
disable netbios = yes
server min protocol = SMB2
private dir = {s}/private
lock directory = {s}/lock
state directory = {s}/state
cache directory = {s}/cache
pid directory = {s}/run
ncalrpc dir = {s}/ncalrpc
passdb backend = tdbsam:{s}/private/passdb.tdb
log file = {s}/log.%m
{"log level = 0 full_audit:1" + chr(10) + "max log size = 0" if audit else ""}
load printers = no
printing = bsd
printcap name = /dev/null
[class]
path = {work}/server
read only = no
""" + ("""vfs objects = full_audit
full_audit:success = all
full_audit:failure = all
full_audit:syslog = false
full_audit:prefix = audit
""" if audit else ""))
        run(["ip", "netns", "exec", ns, "smbpasswd", "-c", str(s / "smb.conf"), "-s", "-a", "root"],
            input=b"tutor-pass\ntutor-pass\n", stdout=subprocess.DEVNULL)
        with open(work / "server.log", "ab") as log:
            # A session of its own: smbd ends its whole process group when it stops.
            self.start(["ip", "netns", "exec", ns, "setsid", "/usr/sbin/smbd", "--foreground", "--no-process-group",
                        "-s", str(s / "smb.conf")], stdout=log, stderr=log)
        probe = ["ip", "netns", "exec", ns, "bash", "-c", "exec 3<>/dev/tcp/127.0.0.1/445"]
        return wait_for(lambda: run(probe, check=False, stderr=subprocess.DEVNULL).returncode == 0, 50, 0.2)

    def mount(self, case, ns, work, i, address, port=2222):
        """Mount i of the share from namespace ns; returns the drives root the writers use."""
        m = work / f"mount-{i}"
        m.mkdir()
        if case.kind == "smb":
            home = work / f"smbhome-{i}" / ".smb"
            home.mkdir(parents=True)
            (home / "smb.conf").write_text("[global]\nclient min protocol = SMB2\n")
            (home / "smbnetfs.conf").write_text('smb_query_browsers "false"\nuse_libsecret "false"\n'
                                                'auth "root" "tutor-pass"\n')
            os.chmod(home / "smbnetfs.conf", 0o600)
            run(["nsenter", f"--net=/run/netns/{ns}", "smbnetfs", str(m)], env={**os.environ, "HOME": str(home.parent)})
            root = m / address / "class"
        else:
            ssh = f"ssh -p {port} {self.ssh}"
            command = ["nsenter", f"--net=/run/netns/{ns}", "sshfs", f"root@{address}:{work}/server", str(m),
                       "-o", f"ssh_command={ssh}", *case.sshfs_options.split()]
            if case.mode == "requests":
                # In the foreground, telling each SFTP request it sends.
                with open(work / "sshfs.log", "wb") as log:
                    self.start(command + ["-f", "-o", "sshfs_debug"], stderr=log)
            else:
                run(command, timeout=60)
            root = m
            # How the drive comes back once it died: mounted again from its computer.
            with open(work / "remount.sh", "a") as f:
                f.write(f"mountpoint -q '{m}' && fusermount -u -z '{m}'\n"
                        f"timeout 60 nsenter --net=/run/netns/{ns} sshfs 'root@{address}:{work}/server' '{m}' "
                        f"-o ssh_command='{ssh}' || exit 1\n"
                        f"for _ in $(seq 1 100); do [ -d '{m}/{FOLDER}' ] && break; sleep 0.1; done\n")
        self.mounts.append(m)
        if not wait_for(lambda: (root / FOLDER).is_dir(), 300, 0.1):
            raise RuntimeError(f"mount {i} does not show the folder")
        return root

    def cleanup(self):
        self.stop.set()
        for p in self.processes:
            if p.poll() is None:
                try:
                    os.kill(p.pid, signal.SIGCONT)
                except OSError:
                    pass
        for pid in self.frozen:
            try:
                os.kill(pid, signal.SIGCONT)
            except OSError:
                pass
        for group in self.groups:
            for sig in (signal.SIGCONT, signal.SIGKILL):
                try:
                    os.killpg(group, sig)
                except OSError:
                    pass
        # A link cut by a case comes back first, so that the mounts can let go.
        for c in self.links_down:
            run(["ip", "-n", c, "link", "set", "eth0", "up"], check=False, stderr=subprocess.DEVNULL)
        for t in self.threads:
            t.join(timeout=60)
        for m in reversed(self.mounts):
            if run(["mountpoint", "-q", str(m)], check=False).returncode == 0:
                if run(["fusermount", "-u", str(m)], check=False, stderr=subprocess.DEVNULL).returncode != 0:
                    run(["umount", "-l", str(m)], check=False)
        # A namespace holder (unshare --fork) ignores SIGTERM: whatever is left after 5 s is killed.
        for p in self.processes:
            if p.poll() is None:
                p.terminate()
        deadline = time.time() + 5
        for p in self.processes:
            try:
                p.wait(timeout=max(0.1, deadline - time.time()))
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait(timeout=10)
        for space in self.spaces:
            pids = run(["ip", "netns", "pids", space], check=False, capture_output=True).stdout.split()
            for pid in map(int, pids):
                for sig in (signal.SIGCONT, signal.SIGTERM):
                    try:
                        os.kill(pid, sig)
                    except OSError:
                        pass
            run(["ip", "netns", "del", space], check=False, stderr=subprocess.DEVNULL)
        if self.share_fs and run(["mountpoint", "-q", str(self.share_fs)], check=False).returncode == 0:
            if run(["umount", str(self.share_fs)], check=False, stderr=subprocess.DEVNULL).returncode != 0:
                run(["umount", "-l", str(self.share_fs)], check=False)


def holder_of(lock):
    try:
        text = (lock / "holder").read_text(errors="replace")
    except OSError:
        return None, None
    pid = re.search(r"^process: (\d+)", text, re.M)
    ident = re.search(r"^id: ([0-9a-f]+)", text, re.M)
    return (int(pid[1]) if pid else None), (ident[1] if ident else None)


def watch_holder(machine, case, work, lock):
    # Waits until a writer of the second computer holds the files, then freezes it 60 s or kills it.
    id_file = work / "keep/journal/c1/computer-id"
    for _ in range(3000):
        if machine.stop.is_set():
            return
        pid, ident = holder_of(lock)
        second = id_file.read_text().strip() if id_file.exists() else ""
        try:
            ours = pid and b"record_writer" in Path(f"/proc/{pid}/cmdline").read_bytes()
        except OSError:
            ours = False
        if ours and second and ident == second:
            if case.watch == "freeze-holder":
                os.kill(pid, signal.SIGSTOP)
                machine.frozen.add(pid)
                say(f"  froze writer process {pid} holding the files, for 60 s")
                machine.stop.wait(60)
                os.kill(pid, signal.SIGCONT)
                say(f"  woke process {pid}")
            else:
                os.kill(pid, signal.SIGKILL)
                say(f"  killed writer process {pid} holding the files")
            return
        time.sleep(0.05)
    say("  no writer of the second computer was seen holding the files")


def plant_locks(machine, lock):
    # A lock that nobody renews, planted again whenever the place is free.
    for n in range(1, 201):
        try:
            lock.mkdir()
            (lock / "holder").write_bytes(b"classnotes-tutor record lock\r\ncomputer: ghost\r\nid: " + b"0" * 32 +
                                          b"\r\nprocess: 1\r\nlease: planted%d\r\nrenewed: 0000000000\r\n" % n)
            say(f"  planted a stale lock ({n})")
        except OSError:
            pass
        if machine.stop.wait(5):
            return


def master_size(work):
    try:
        return (work / "server" / FOLDER / "masterFile.txt").stat().st_size
    except OSError:
        return 0


def restart_sshd(machine, work, ns):
    # Once master holds 300 KB: every sshd ends (listener and sessions), a new one 2 s later.
    if not wait_for(lambda: machine.stop.is_set() or master_size(work) > 300000, 1200, 0.1) or machine.stop.is_set():
        return
    pids = run(["ip", "netns", "pids", ns], check=False, capture_output=True).stdout.split()
    for pid in pids:
        try:
            if Path(f"/proc/{pid}/comm").read_text().strip() == "sshd":
                os.kill(int(pid), signal.SIGTERM)
        except OSError:
            pass
    say(f"  every sshd ended at master size {master_size(work)}")
    if not machine.stop.wait(2):
        machine.sshd(ns, work)
        say("  sshd started again")


def fill_share(machine, work):
    if not wait_for(lambda: machine.stop.is_set() or master_size(work) > 300000, 1200, 0.1) or machine.stop.is_set():
        return
    filler = work / "server/filler"
    run(["dd", "if=/dev/zero", f"of={filler}", "bs=64k"], timeout=30, check=False, stderr=subprocess.DEVNULL)
    say(f"  the share is full at master size {master_size(work)}")
    machine.stop.wait(10)
    filler.unlink(missing_ok=True)
    say("  the share has room again")


def cut_inside_freeze(machine, work, client):
    # pc-c cut off for 20 s, 5 s into writer 1's freeze.
    log = work / "keep/logs/w1-r0.err"
    froze = lambda: log.exists() and b"froze the whole process" in log.read_bytes()  # noqa: E731
    if not wait_for(lambda: machine.stop.is_set() or froze(), 6000, 0.1) or machine.stop.is_set():
        return
    if machine.stop.wait(5):
        return
    say("  pc-c's link down for 20 s")
    machine.cut(client, 20)
    say("  pc-c's link up again")


def writer_logs(work):
    """Writer number, run and text of every writer's standard error."""
    out = []
    for f in sorted((work / "keep/logs").glob("w*-r*.err")):
        m = re.match(r"w(\d+)-r(\d+)\.err", f.name)
        if m:
            out.append((int(m[1]), int(m[2]), f.read_text(errors="replace")))
    return out


def tell_writers(case, work, computers):
    """Clicks and deliveries per computer, give-ups, what the writers were told; the give-ups by computer."""
    logs = writer_logs(work)
    for _, _, text in logs:
        for line in re.findall(r"stress-trouble: .*", text):
            say("  " + line)
    names = [f"pc-{LETTERS[i]}" for i in range(computers)] if case.layout == "net" else \
        [f"mount {i + 1}" for i in range(computers)]
    for label, pattern in (("start-ups", r"start-up took (\d+) ms"), ("clicks", r"record \d+ took (\d+) ms"),
                           ("deliveries", r"record \d+ delivered after (\d+) ms")):
        every = [int(t) for _, _, text in logs for t in re.findall(pattern, text)]
        if not every:
            continue
        say(f"  {label}: {spread(every)}")
        for c in range(computers if computers > 1 else 0):
            mine = [int(t) for w, _, text in logs if w % computers == c for t in re.findall(pattern, text)]
            if mine:
                say(f"    on {names[c]}: {spread(mine)}")
    for c in range(computers):
        told = [int(t) for w, _, text in logs if w % computers == c for t in re.findall(r"at most (\d+) seconds", text)]
        if told:
            say(f"  {names[c]} was told of waits of at most {max(told)} s")
    lines = [re.sub(r" \(on disk: .*?\): ", ": ", line)[:300] for _, _, text in logs for line in text.splitlines()
             if "clicking again" in line or "record_writer: told" in line or "record_writer: where" in line
             or "left with" in line or "still to send after" in line]
    for line in sorted(set(lines))[:6]:
        say(f"  {lines.count(line)} x {line}")
    waited = [int(t) for _, _, text in logs for t in re.findall(r"waited (\d+) ms at the end", text)]
    if waited:
        say(f"  the writers waited at most {max(waited)} ms at the end for records still to send")
    gave_up = [0] * computers
    for w, r, text in logs:
        if r != 0:
            continue
        # The writer's own last word when it stops: at start-up, at a click, or with records unsent.
        failed = [line for line in text.splitlines()
                  if re.match(r"record_writer: (start-up did not finish|record \d+ was not written|\d+ records "
                              r"still to send after)", line)]
        if case.restart_dead:
            failed = [line for line in failed if "the network folder does not answer" not in line]
        if failed:
            gave_up[w % computers] += 1
            say(f"  w{w}: {failed[0][:240]}")
    say("  writers that gave up: " + ", ".join(f"{names[c]} {gave_up[c]}" for c in range(computers)))
    times = [sorted(int(t) for _, _, text in logs for t in re.findall(p, text))
             for p in (r"record \d+ took (\d+) ms", r"record \d+ delivered after (\d+) ms")]
    return gave_up, times


def locks_left(folder):
    left = sorted(p.name for p in folder.glob("records.lock?*"))
    say(f"  locks left under a name of their own: {len(left)}" + (f" ({' '.join(left)})" if left else ""))
    return len(left)


SUMMARY = []
SUMMARY_HEAD = "case | result | lost dup torn only-some | index | misplaced | gave up | locks | click | delivery"


def summary_row(name, ok, out, misplaced, gave_up, locks, clicks, deliveries):
    """One line of the table at the end, from the checker's own table and the writers' times."""
    files = [list(map(int, m)) for m in re.findall(r"^\s*(?:master|send|notes)\s+\d+\s+\d+\s+(\d+)\s+(\d+)\s+(\d+)",
                                                 out, re.M)]
    lost, dup, torn = (sum(f[i] for f in files) for i in range(3))
    some = re.search(r"records in only some of their files: (\d+)", out)
    index = re.search(r"without one (\d+), wrong (\d+), duplicated (\d+), pointing at nothing whole (\d+).*?"
                      r"damaged lines (\d+)", out)
    bad = sum(map(int, index.groups())) if index else "?"
    at = lambda v: f"{quantile(v, 0.5)}/{quantile(v, 0.99)}/{v[-1]} ms" if v else "-"  # noqa: E731
    return (f"{name} | {'PASS' if ok else 'FAIL'} | {lost} {dup} {torn} {some[1] if some else '?'} | {bad} | "
            f"{misplaced} | {gave_up} | {locks} | {at(clicks)} | {at(deliveries)}")


def stress_command(case, machine, work, roots, wraps):
    command = [str(machine.build / "stress_records"), "--processes", str(case.processes), "--records",
               str(case.records), "--check-drives", str(work / "server"), "--keep", str(work / "keep")]
    for r in roots:
        command += ["--drives", str(r)]
    for w in wraps:
        command += ["--wrap", w]
    if case.give_ups == "allowed":
        command.append("--give-ups-allowed")
    if case.give_ups == "kills":
        command.append("--kills-expected")
    if case.restart_dead:
        command += ["--restart", f"sh {work}/remount.sh"]
    elif case.leave_pending:
        command += ["--restart", "true"]
    if case.local_first:
        command += ["--local-first", "--pause", str(case.pause_ms)]
        if case.leave_pending:
            command.append("--leave-pending")
    return command


def run_case(case, machine, base):
    work = Path(tempfile.mkdtemp(prefix=case.name + ".", dir=base))
    server = work / "server"
    server.mkdir()
    if case.share_mb:
        run(["mount", "-t", "tmpfs", "-o", f"size={case.share_mb}m", "tutor-share", str(server)])
        machine.share_fs = server
    (server / FOLDER).mkdir(parents=True)
    (work / "keep").mkdir()
    folder, lock = server / FOLDER, server / FOLDER / "records.lock"
    pid = os.getpid()
    ns = machine.space(f"tsrv-{pid}")
    net = case.layout == "net"
    clients = [machine.space(f"tpc{LETTERS[i]}-{pid}") for i in range(case.computers)] if net else []
    for i, c in enumerate(clients, 1):
        machine.link(c, ns, i)
    addresses = [f"10.28.{i}.2" for i in range(1, case.computers + 1)] if net else ["127.0.0.1"] * case.computers
    mode = "first kept on the computer" if case.local_first else "each click waiting for the class folder"
    writers = f", {case.processes} writers x {case.records} records, {mode}" if case.mode == "stress" else ""
    say(f"\n== {case.name}: {case.kind}, {case.computers} "
        f"{'computer(s) on links of their own' if net else 'mount(s)'}{writers} ==\n  {case.about}")
    started = time.time()
    up = (machine.start_smb(ns, work, " ".join(["127.0.0.1/8"] + [a + "/24" for a in addresses if net]),
                            audit=case.mode == "requests")
          if case.kind == "smb" else machine.start_sftp(ns, work, ["127.0.0.1"] + (addresses if net else [])))
    if not up:
        say("stress-shared: the file server did not come up:\n" + (work / "server.log").read_text(errors="replace"))
        return False
    if case.proxy:
        delay, jitter, share, extra = case.proxy
        machine.start(["ip", "netns", "exec", ns, "timeout", "3600", "python3", str(HERE / "delay_proxy.py"),
                       "10.28.2.2", "2223", "127.0.0.1", "2222", str(delay), str(jitter), "3600", str(share),
                       str(extra)])
        probe = ["ip", "netns", "exec", ns, "bash", "-c", "exec 3<>/dev/tcp/10.28.2.2/2223"]
        wait_for(lambda: run(probe, check=False, stderr=subprocess.DEVNULL).returncode == 0, 50, 0.2)
    roots, wraps, inner = [], [], []
    for i in range(case.computers):
        space = clients[i] if net else ns
        port = 2223 if case.proxy and i == 1 else 2222
        roots.append(machine.mount(case, space, work, i + 1, addresses[i], port))
        if net:
            # A host name of its own: the writers join this holder's UTS namespace (and the network's).
            holder = machine.start(["ip", "netns", "exec", space, "unshare", "--uts", "--fork", "sh", "-c",
                                    f"hostname pc-{LETTERS[i]}; exec sleep 3600"])
            inner.append(holder)
    for i, holder in enumerate(inner):
        found = []
        wait_for(lambda: found.append(run(["pgrep", "-P", str(holder.pid), "sleep"], check=False,
                                          capture_output=True, text=True).stdout.strip()) or found[-1], 50, 0.1)
        if not found[-1]:
            raise RuntimeError(f"no namespace holder for pc-{LETTERS[i]}")
        trouble = (i == 1 and case.victim) or (i == 0 and case.breaker)
        wraps.append(f"nsenter --target {found[-1]} --uts --net -- " + (f"{SELF} --trouble-wrap" if trouble else ""))
    if case.wraps == "skew":
        wraps = ["env", "faketime -f -1h", "faketime -f +1h"]
    if case.wraps == "same-host":
        for _ in range(2):
            holder = machine.start(["unshare", "--uts", "--pid", "--fork", "--kill-child", "sh", "-c",
                                    "hostname classroom-pc; exec sleep 3600"])
            found = []
            wait_for(lambda: found.append(run(["pgrep", "-P", str(holder.pid), "sleep"], check=False,
                                              capture_output=True, text=True).stdout.strip()) or found[-1], 50, 0.1)
            if not found[-1]:
                raise RuntimeError("no namespace holder")
            wraps.append(f"nsenter --target {found[-1]} --uts --pid --")
    if case.mode != "stress":
        return run_mode(case, machine, work, roots)

    watch = case.watch
    if watch in ("freeze-holder", "kill-holder"):
        machine.background(lambda: watch_holder(machine, case, work, lock))
    elif watch == "plant-lock":
        machine.background(lambda: plant_locks(machine, lock))
    elif watch == "restart-sshd":
        machine.background(lambda: restart_sshd(machine, work, ns))
    elif watch == "fill-share":
        machine.background(lambda: fill_share(machine, work))
    elif watch == "cut-pc-c":
        machine.background(lambda: cut_inside_freeze(machine, work, clients[2]))
    env = dict(os.environ, STRESS_COMPUTERS=str(case.computers), STRESS_CLICK_AGAIN=str(case.click_again))
    v, b = case.victim, case.breaker
    if v:
        env.update(STRESS_VICTIM="1", STRESS_AT=str(v["at"]), STRESS_SECS=str(v["secs"]), STRESS_ACTION=v["action"],
                   STRESS_SHARE=str(work / "mount-2"), STRESS_CALL=v["call"], STRESS_FILES=v.get("files", ""),
                   STRESS_CUT=f"ip -n {clients[1]} link set eth0 down; sleep {v['secs']}; "
                              f"ip -n {clients[1]} link set eth0 up")
        machine.links_down.append(clients[1])
    if b:
        env.update(STRESS_BREAKER_ACTION=b["action"], STRESS_BREAKER_SECS="40", STRESS_BREAKER_CALL=b["call"],
                   STRESS_BREAKER_FILES=b["files"], STRESS_BREAKER_AFTER=b["after"],
                   STRESS_BREAKER_ONCE=str(work / "breaker-trouble"), STRESS_BREAKER_SHARE=str(work / "mount-1"),
                   STRESS_BREAKER_CUT=f"ip -n {clients[0]} link set eth0 down; sleep 40; "
                                      f"ip -n {clients[0]} link set eth0 up")
        machine.links_down.append(clients[0])
    command = stress_command(case, machine, work, roots, wraps)
    # A group of its own, so that an interrupt ends its writers too, wherever they run.
    writers = machine.start(command, env=env, stdout=subprocess.PIPE, text=True, start_new_session=True)
    machine.groups.append(writers.pid)
    out, _ = writers.communicate(timeout=3000)
    machine.stop.set()
    for t in machine.threads:
        t.join(timeout=120)
    say("  " + out.strip().replace("\n", "\n  "))
    ok = writers.returncode == 0
    gave_up, (clicks, deliveries) = tell_writers(case, work, case.computers)
    if net and gave_up[0] and not case.pc_a_may_give_up:
        say("stress-shared: a writer of pc-a gave up")
        ok = False
    if case.local_first and not case.give_ups and sum(gave_up):
        say("stress-shared: a writer gave up")
        ok = False
    if lock.exists():
        say("stress-shared: a lock was left behind")
        ok = False
    if (folder / "records.lock.breaking").exists():
        say("stress-shared: a breaker's token was left behind")
        ok = False
    left = locks_left(folder) + lock.exists()
    misplaced = "-"
    # As the instructor reads the folder: every record in its writer's session, on its computer.
    if net and (folder / "masterFile.txt").exists():
        hosts = [f"pc-{LETTERS[i]}" for i in range(case.computers)]
        review = run(["python3", str(HERE / "review_placement.py"), str(machine.build / "classnotes-review"),
                      str(folder), *hosts], timeout=1200, check=False, capture_output=True, text=True)
        say("  " + review.stdout.strip().replace("\n", "\n  "))
        found = re.search(r"(\d+) misplaced", review.stdout)
        misplaced = found[1] if found else "?"
        if review.returncode != 0:
            say("stress-shared: the instructor's review misplaced records")
            ok = False
    if os.environ.get("STRESS_KEEP"):
        keep = Path(os.environ["STRESS_KEEP"]) / case.name
        keep.mkdir(parents=True, exist_ok=True)
        shutil.copytree(work / "keep/logs", keep / "logs", dirs_exist_ok=True)
        shutil.copytree(folder, keep / "lb1", dirs_exist_ok=True, ignore=shutil.ignore_patterns("records.lock*"))
    say(f"  case time: {time.time() - started:.0f} s")
    SUMMARY.append(summary_row(case.name, ok, out, misplaced, sum(gave_up), left, clicks, deliveries))
    return ok


def run_mode(case, machine, work, roots):
    target = str(roots[0] / FOLDER)
    if case.mode == "bench":
        return run([str(machine.build / "bench_protocol"), target, os.environ.get("BENCH_BLOCKS", "6"),
                    os.environ.get("BENCH_RECORDS", "300")], timeout=1200, check=False).returncode == 0
    if case.mode == "batch":
        return run([str(machine.build / "bench_protocol"), target, "1", os.environ.get("BENCH_RECORDS", "400"),
                    "batch" + os.environ.get("BENCH_BATCH", "16")], timeout=1800, check=False).returncode == 0
    if case.mode == "requests":
        # Each side alone, 200 records, the log cut at each: requests by kind, and time, per record.
        # Over SMB the log is Samba's audit of the calls on the server's disk, of which these
        # stand for a request each (a listing's entries are calls of their own).
        n = 200
        log = work / "sshfs.log" if case.kind == "sftp" else None
        calls = (rb"create_file|close|pread_send|pwrite_send|fsync_send|renameat|unlinkat|mkdirat|fdopendir|"
                 rb"fntimes|getlock|ftruncate|fallocate")
        request = re.compile(rb"\[\d+\] ([A-Z_]+)" if log else rb"\|(" + calls + rb")\|(?:ok|fail)\|")

        def lines():
            if log:
                return log.read_bytes().splitlines()
            return [l for f in sorted((work / "samba").glob("log.*")) for l in f.read_bytes().splitlines()]
        # batch16:batch: the same records sent sixteen at a time, as a delivery catching up does.
        for side in ("tutor", "bare", "kept", "floor", "batch16:batch"):
            start = len(lines())
            began = time.monotonic()
            if run([str(machine.build / "bench_protocol"), target, "1", str(n), side], timeout=600, check=False,
                   stdout=subprocess.DEVNULL).returncode != 0:
                return False
            took = (time.monotonic() - began) / n * 1000
            time.sleep(1)
            kinds = {}
            for line in lines()[start:]:
                m = request.search(line)
                if m:
                    kinds[m[1].decode()] = kinds.get(m[1].decode(), 0) + 1
            each = " ".join(f"{k} {v / n:.1f}" for k, v in sorted(kinds.items()))
            # The time is the whole run's: for the batch, keeping each record in the journal too.
            say(f"  {side}: {sum(kinds.values()) / n:.1f} requests, {took:.1f} ms per record: {each}")
        return True
    # live: the follower reads through a read-only bind mount of the third mount.
    ro = work / "ro"
    ro.mkdir()
    run(["mount", "--bind", str(work / "mount-3"), str(ro)])
    machine.mounts.append(ro)
    run(["mount", "-o", "remount,bind,ro", str(ro)])
    return run(["bash", str(HERE / "stress-live"), str(work), str(machine.build), FOLDER], timeout=7200,
               check=False).returncode == 0


def trouble_wrap(args):
    """One writer of a case on computers of their own, under gdb when it is to get the trouble."""
    writer = next((int(b) for a, b in zip(args, args[1:]) if a == "--writer"), -1)
    computers = int(os.environ.get("STRESS_COMPUTERS", "2"))
    if os.environ.get("STRESS_VICTIM") and writer == int(os.environ["STRESS_VICTIM"]):
        os.execvp("gdb", ["gdb", "-nx", "-q", "-batch", "-x", str(HERE / "stress_trouble.py"), "--args", *args])
    # The breakers of pc-a: the first to reach the step named gets the trouble.
    if os.environ.get("STRESS_BREAKER_ACTION") and writer % computers == 0:
        for name in ("ACTION", "SECS", "CALL", "FILES", "AFTER", "ONCE", "SHARE", "CUT"):
            os.environ["STRESS_" + name] = os.environ.get("STRESS_BREAKER_" + name, "")
        os.environ["STRESS_AT"] = "1"
        os.execvp("gdb", ["gdb", "-nx", "-q", "-batch", "-x", str(HERE / "stress_trouble.py"), "--args", *args])
    os.execvp(args[0], args)


def prepare(base):
    missing = [p for p in PACKAGES if run(["dpkg", "-s", p], check=False, stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL).returncode != 0]
    if missing:
        say("Installing: " + " ".join(missing))
        run(["apt-get", "update", "-q"], timeout=600)
        run(["apt-get", "install", "-y", "-q", "--no-install-recommends", *missing], timeout=900,
            env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
    for key in ("host_key", "user_key"):
        run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", str(base / key)])
    shutil.copy(base / "user_key.pub", base / "authorized_keys")
    Path("/run/sshd").mkdir(exist_ok=True)


def main(argv):
    if argv[:1] == ["--trouble-wrap"]:
        trouble_wrap(argv[1:])
    build = Path(argv[0] if argv else "build/release").resolve()
    names = argv[1:] or DEFAULT
    cases = []
    for name in names:
        c = case_named(name)
        if c is None:
            say(f"stress-shared: no such case: {name}")
            return 2
        if os.environ.get("STRESS_CLICKS_WAIT") == "1":
            c.local_first = False
        cases.append(c)
    if os.getuid() != 0:
        say("stress-shared: run as root (it makes network namespaces and FUSE mounts)")
        return 2
    if not (build / "stress_records").exists():
        say(f"stress-shared: no {build}/stress_records; build the release preset")
        return 2
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt()))
    base = Path(tempfile.mkdtemp(prefix="stress-shared."))
    passed, failed = [], []
    try:
        prepare(base)
        for case in cases:
            machine = Machine(base, build)
            try:
                ok = run_case(case, machine, base)
            except (RuntimeError, subprocess.TimeoutExpired, OSError) as e:
                say(f"stress-shared: {case.name}: {e}")
                ok = False
            finally:
                machine.cleanup()
            (passed if ok else failed).append(case.name)
    except KeyboardInterrupt:
        say("stress-shared: interrupted")
        return 130
    finally:
        shutil.rmtree(base, ignore_errors=True)
    if SUMMARY:
        say("\n" + SUMMARY_HEAD + "\n" + "\n".join(SUMMARY))
    say(f"\nstress-shared: passed: {' '.join(passed) or 'none'}")
    say("stress-shared: PASS" if not failed else f"stress-shared: FAIL: {' '.join(failed)}")
    return 1 if failed else 0
