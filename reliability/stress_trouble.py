# Run by gdb around one writer of the shared-folder stress cases (reliability/stress-shared):
# counts the writer's writes to the share's record files (any thread, by the file each descriptor
# names; STRESS_FILES, a pattern of file names, counts others too) and at
# the K-th one either stops the whole process, every thread, for a while (a lid closed mid-write)
# or runs a command that cuts the computer's link and lets the write go on into the cut.
# Then it lets the writer run to its end and exits with the writer's own code.
# With STRESS_CALL=rename it counts the writer's moves instead, by the last two parts of the path
# moved (STRESS_FILES: "records\.lock/holder" is the first step of letting go or breaking);
# STRESS_AFTER, a pattern of the same kind, counts only once a move of it was seen (the making of
# a breaker's token), and only until the break it began ends: the token's own holder file moved
# (the token let go, or a stale one taken away) or a lock made again (the break found another
# breaker at work); STRESS_ONCE=FILE lets only the first writer of several make its trouble.
# STRESS_ACTION=kill ends the writer there.
#   STRESS_AT=K STRESS_SHARE=DIR STRESS_ACTION=freeze|cut|kill STRESS_SECS=S [STRESS_CUT=COMMAND]
#   [STRESS_FILES=PATTERN] [STRESS_CALL=write|rename] [STRESS_AFTER=PATTERN] [STRESS_ONCE=FILE]
#   gdb -batch -x stress_trouble.py --args record_writer ...
import os
import re
import subprocess
import time

import gdb

at = int(os.environ["STRESS_AT"])
share = os.environ["STRESS_SHARE"].rstrip("/") + "/"
action = os.environ.get("STRESS_ACTION", "freeze")
secs = float(os.environ.get("STRESS_SECS", "16"))
files = re.compile(os.environ.get("STRESS_FILES") or r"masterFile\.txt|send_.*|notes_.*")
call = os.environ.get("STRESS_CALL", "write")
after = re.compile(os.environ["STRESS_AFTER"]) if os.environ.get("STRESS_AFTER") else None
once = os.environ.get("STRESS_ONCE", "")
armed = after is None
# What ends a break: only the step named within it is counted, never one of a later record.
ended = re.compile(r"[^/]+/records\.lock\.breaking/holder|[^/]+/records\.lock\.[0-9a-f]+\.new")
seen = 0


def first_of_all():
    # One writer of several: the first to get here, by a file made only once.
    if not once:
        return True
    try:
        os.close(os.open(once, os.O_CREAT | os.O_EXCL | os.O_WRONLY))
        return True
    except OSError:
        return False


def say(text):
    # Straight to the descriptor: gdb holds back what Python prints while a command runs.
    os.write(2, ("stress-trouble: %s\n" % text).encode())


class ShareWrite(gdb.Breakpoint):
    def stop(self):
        global seen
        fd = int(gdb.parse_and_eval("$rdi"))
        try:
            path = os.readlink("/proc/%d/fd/%d" % (gdb.selected_inferior().pid, fd))
        except OSError:
            return False
        if not path.startswith(share) or not files.fullmatch(os.path.basename(path)):
            return False
        if not armed:
            return False
        seen += 1
        if seen == at and first_of_all():
            say("write %d to the share: %s" % (seen, os.path.basename(path)))
            return True
        return False


gdb.execute("set pagination off")
gdb.execute("set confirm off")
gdb.execute("set breakpoint pending on")
gdb.execute("set print thread-events off")
class ShareMove(gdb.Breakpoint):
    # rename(old, new), renameat(dir, old, dir, new), renameat2(dir, old, dir, new, flags)
    def __init__(self, name, register):
        super().__init__("-qualified " + name, internal=True)
        self.register = register

    def stop(self):
        global seen, armed
        try:
            path = gdb.parse_and_eval("(const char *)%s" % self.register).string()
        except gdb.error:
            return False
        if not path.startswith(share):
            return False
        tail = "/".join(path.rstrip("/").split("/")[-2:])
        if after is not None and after.fullmatch(tail):
            armed = True
            return False
        if not armed:
            return False
        named = call == "rename" and files.fullmatch(tail) is not None
        # The step that ends a break may be the one named.
        if after is not None and ended.fullmatch(tail):
            armed = False
        if not named:
            return False
        seen += 1
        if seen == at and first_of_all():
            say("move %d on the share: %s" % (seen, tail))
            return True
        return False


points = []
if call == "rename" or after is not None:
    points += [ShareMove("rename", "$rdi"), ShareMove("renameat", "$rsi"), ShareMove("renameat2", "$rsi")]
if call != "rename":
    points += [ShareWrite("-qualified " + name, internal=True) for name in ("write", "pwrite64", "writev")]
gdb.execute("run", to_string=True)
if seen >= at and gdb.selected_inferior().pid:
    for p in points:
        p.delete()
    started = time.time()
    if action == "kill":
        say("killed the writer")
        gdb.execute("kill", to_string=True)
        gdb.execute("quit %d" % (128 + 9))
    if action == "freeze":
        # All-stop: every thread of the writer is held here, the lease's renewal too.
        say("froze the whole process for %.0f s" % secs)
        time.sleep(secs)
        say("woke after %.1f s" % (time.time() - started))
    else:
        subprocess.Popen(["sh", "-c", os.environ["STRESS_CUT"]])
        say("cut the link for %.0f s, the write goes on" % secs)
    gdb.execute("continue", to_string=True)
code = gdb.parse_and_eval("$_exitcode")
signal = gdb.parse_and_eval("$_exitsignal")
if str(signal) != "void":
    say("the writer ended by signal %s" % signal)
    gdb.execute("quit %d" % (128 + int(signal)))
gdb.execute("quit %d" % (int(code) if str(code) != "void" else 5))
