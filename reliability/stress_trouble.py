# Run by gdb around one writer of the shared-folder stress cases (reliability/stress-shared):
# counts the writer's writes to the share's record files (any thread, by the file each descriptor
# names; STRESS_FILES, a pattern of file names, counts others too) and at
# the K-th one either stops the whole process, every thread, for a while (a lid closed mid-write)
# or runs a command that cuts the computer's link and lets the write go on into the cut.
# Then it lets the writer run to its end and exits with the writer's own code.
#   STRESS_AT=K STRESS_SHARE=DIR STRESS_ACTION=freeze|cut STRESS_SECS=S [STRESS_CUT=COMMAND]
#   [STRESS_FILES=PATTERN]
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
seen = 0


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
        seen += 1
        if seen == at:
            say("write %d to the share: %s" % (seen, os.path.basename(path)))
            return True
        return False


gdb.execute("set pagination off")
gdb.execute("set confirm off")
gdb.execute("set breakpoint pending on")
gdb.execute("set print thread-events off")
points = [ShareWrite("-qualified " + name, internal=True) for name in ("write", "pwrite64", "writev")]
gdb.execute("run", to_string=True)
if seen >= at and gdb.selected_inferior().pid:
    for p in points:
        p.delete()
    started = time.time()
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
