"""The user's files and terminal: outputs written whole or not at all, with
the bits, owner and links they had; reads that fail, stop the run; runs cut
short leave nothing behind; nothing from a file reaches the terminal raw; a
result vorn cannot write is reported.

    files.py VORNCONVERT VORN VORNSTAT SANITIZED

Each case runs in a fresh folder holding data.gen. SANITIZED is 1 in a
sanitizer build, whose own memory rules out an address-space limit.
"""

import os
import re
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time

from convtest import check, main, run

conv, vorn, vornstat = (os.path.abspath(a) for a in sys.argv[1:4])
sanitized = sys.argv[4] == "1"
HERE = os.path.dirname(os.path.abspath(__file__))
CATS = open(os.path.join(HERE, "data", "nancycats.gen"), "rb").read()
USAGE = "\nTry 'vornconvert --help' for more information.\n"
ROOT = os.getuid() == 0
NOBODY = 65534


def as_nobody():
    """The command prefix that runs as an ordinary user, or None."""
    if not ROOT:
        return []
    return ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups"] \
        if shutil.which("setpriv") else None


def listing(folder):
    return sorted(os.listdir(folder))


def within(fn):
    """fn(folder) run in a fresh folder with data.gen."""
    def test():
        folder = tempfile.mkdtemp(prefix="files.")
        try:
            with open(os.path.join(folder, "data.gen"), "wb") as f:
                f.write(CATS)
            fn(folder)
        finally:
            shutil.rmtree(folder)
    return test


def path(folder, name):
    return os.path.join(folder, name)


def write(folder, name, text=b"older\n", mode=None):
    with open(path(folder, name), "wb") as f:
        f.write(text)
    if mode is not None:
        os.chmod(path(folder, name), mode)


# --- Refused: exit 1, the message, and the folder as it was -----------------

def snapshot(folder):
    """Each name: where its link points, its bytes, or None for a folder."""
    def what(name):
        p = path(folder, name)
        return os.readlink(p) if os.path.islink(p) else open(p, "rb").read() if os.path.isfile(p) else None
    return {name: what(name) for name in listing(folder)}


def refused(args, message, prepare=None, user=False, limits=None):
    """message: the whole of standard error, or a compiled pattern."""
    def fn(folder):
        if prepare:
            prepare(folder)
        prefix = []
        if user:
            prefix = as_nobody()
            if prefix is None:
                print("skip (needs setpriv as root)")
                return
            os.chmod(folder, 0o777)
        before = snapshot(folder)
        r = subprocess.run(prefix + [conv] + args, capture_output=True, cwd=folder, timeout=60,
                           preexec_fn=limits)
        err = r.stderr.decode(errors="replace")
        check(r.returncode == 1, "exit %d, stderr %r" % (r.returncode, err))
        ok = message.fullmatch(err) if isinstance(message, re.Pattern) else err == message
        check(ok, "stderr\n  got:      %r\n  expected: %r" % (err, message))
        after = snapshot(folder)
        check(after == before, "folder held %s, now %s" % (sorted(before), sorted(after)))
    return within(fn)


def file_limit():
    import resource
    resource.setrlimit(resource.RLIMIT_FSIZE, (1000, 1000))


def stdout_closed():
    os.close(1)


def stdin_is_folder(folder):
    fd = os.open(folder, os.O_RDONLY)
    try:
        r = subprocess.run([conv, "-", "-o", "out.nex"], stdin=fd, capture_output=True, cwd=folder, timeout=60)
    finally:
        os.close(fd)
    want = b"vornconvert: (standard input): read error: Is a directory\n"
    check(r.returncode == 1 and r.stderr == want, "exit %d, stderr %r" % (r.returncode, r.stderr))
    check(listing(folder) == ["data.gen"], "folder %s" % listing(folder))


# --- Written: exit 0 and what the files must be ------------------------------

def written(args, prepare, after):
    def fn(folder):
        prepare(folder)
        r = run([conv, "-q"] + args, cwd=folder)
        check(r.returncode == 0, "exit %d: %r" % (r.returncode, r.stderr))
        after(folder)
        check(not [n for n in listing(folder) if n.startswith(".")], "left %s" % listing(folder))
    return within(fn)


def is_output(folder, name):
    return open(path(folder, name), "rb").read().startswith(b"#nexus\n")


def keeps_bits(folder):
    for name in ("out.nex", "out.map"):
        check(stat.S_IMODE(os.stat(path(folder, name)).st_mode) == (0o600 if name == "out.nex" else 0o640),
              "%s now %o" % (name, os.stat(path(folder, name)).st_mode))
    check(is_output(folder, "out.nex"), "not replaced")


def keeps_owner(folder):
    st = os.stat(path(folder, "out.nex"))
    check((st.st_uid, st.st_gid) == (NOBODY, NOBODY), "owner now %d:%d" % (st.st_uid, st.st_gid))
    check(stat.S_IMODE(st.st_mode) == 0o444 and is_output(folder, "out.nex"), "mode %o" % st.st_mode)


def private_and_foreign(folder):
    write(folder, "out.nex", mode=0o600)
    write(folder, "out.map", mode=0o640)


def foreign(folder):
    write(folder, "out.nex", mode=0o444)
    os.chown(path(folder, "out.nex"), NOBODY, NOBODY)


def dangling(folder):
    os.mkdir(path(folder, "there"))
    os.symlink("there/new.nex", path(folder, "link.nex"))


def link_kept_target_made(folder):
    check(os.readlink(path(folder, "link.nex")) == "there/new.nex", "link replaced")
    check(is_output(folder, "there/new.nex"), "target not written")


def long_names(folder):
    # Every length that fits a name: the temporary file must not make it too long.
    for n in range(240, 256):
        name = "n" * (n - 4) + ".nex"
        r = run([conv, "-q", "data.gen", "-o", name], cwd=folder)
        check(r.returncode == 0, "%d bytes: %r" % (n, r.stderr))
        check(is_output(folder, name), "%d bytes: not written" % n)
    check(len(listing(folder)) == 1 + 16, "folder: %s" % [x[:12] for x in listing(folder)])


# A name and a population with ESC and a C1 CSI (C2 9B) in them.
HOSTILE = b"t\nL1\nPop \xc2\x9b31m\x1b[2J\xc2\xa0ok\nc1, 0101\n"


def terminal_safe(folder):
    name = b"e\x1b]0;x\x07\xc2\x9bvil.gen"
    with open(os.path.join(folder.encode(), name), "wb") as f:
        f.write(HOSTILE)
    for program, args, stdin in ((conv, [name, "-o", "out.nex", "--map", "out.map"], b""),
                                 (conv, [name, "--format", "structure"], b""), (conv, ["-"], HOSTILE[:-3]),
                                 (vornstat, [name], b""), (vornstat, [name, "--format", "structure"], b"")):
        r = subprocess.run([program] + args, input=stdin, capture_output=True, cwd=folder, timeout=60)
        for stream in (r.stderr, r.stdout):
            check(b"\x1b" not in stream and b"\xc2\x9b" not in stream and b"\x07" not in stream,
                  "raw control in %r" % stream)
        check(b"e\\x1b]0;x\\x07\\xc2\\x9bvil.gen" in r.stderr + r.stdout or args == ["-"],
              "file name not escaped: %r" % r.stderr)
    out = open(path(folder, "out.nex"), "rb").read()
    check(b"\n_31m_[2J\xc2\xa0ok:\n" in out, "population name %r" % out)


def blanks_in_a_pipe(folder):
    # A named pipe of the cats with 80 MB of blanks before the last
    # population, read under a 64 MB address-space limit: all of it
    # converted, or an error; never part of it.
    if sanitized:
        print("skip (sanitizer build)")
        return
    import resource
    last = CATS.rindex(b"\nPop") + 1
    fifo = path(folder, "pipe.gen")
    os.mkfifo(fifo)

    def feed():
        try:
            with open(fifo, "wb") as f:
                f.write(CATS[:last])
                f.write(b" " * (40 << 20) + b"\n")
                for _ in range(40):
                    f.write(b" " * ((1 << 20) - 1) + b"\n")
                f.write(CATS[last:])
        except BrokenPipeError:
            pass  # the run stopped reading; it must then have failed

    writer = threading.Thread(target=feed)
    writer.start()
    limit = 64 << 20
    r = subprocess.run([conv, "pipe.gen", "-o", "out.nex"], capture_output=True, cwd=folder, timeout=60,
                       preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
    while writer.is_alive():  # a run that stopped reading leaves the writer waiting
        fd = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        try:
            while True:
                try:
                    if not os.read(fd, 1 << 20):
                        break
                except BlockingIOError:
                    time.sleep(0.01)
        finally:
            os.close(fd)
    writer.join()
    check(r.returncode == 0, "exit %d: %r" % (r.returncode, r.stderr))
    check(b": Genepop (2 digits per allele): 17 populations, 237 individuals," in r.stderr, "%r" % r.stderr)


# --- Interrupted: nothing left behind ----------------------------------------

def many_cats():
    lines = [b"many", b"a, b, c, d, e, f, g, h"]
    for p in range(3):
        lines.append(b"Pop")
        lines += [b"c%d, 0101 0203 0102 0404 0105 0303 0101 0202" % i for i in range(1500)]
    return b"\n".join(lines) + b"\n"


def interrupted(sig):
    # The data go to a pipe that nobody reads, so the run waits with its map
    # written to a temporary file; the signal must take that file away.
    def fn(folder):
        write(folder, "data.gen", many_cats())
        p = subprocess.Popen([conv, "data.gen", "--map", "out.map"], cwd=folder, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL)
        try:
            deadline = time.time() + 30
            while listing(folder) == ["data.gen"] and time.time() < deadline and p.poll() is None:
                time.sleep(0.01)
            time.sleep(0.2)
            check(p.poll() is None, "ended before the signal")
            p.send_signal(sig)
            status = p.wait(timeout=30)
        finally:
            if p.poll() is None:
                p.kill()
                p.wait()
            p.stdout.close()
        check(status == -sig, "status %d" % status)
        check(listing(folder) == ["data.gen"], "left %s" % listing(folder))
    return within(fn)


# --- vorn: a result that cannot be written ----------------------------------

def vorn_lost(redirect):
    def fn(folder):
        r = run([conv, "-q", "data.gen", "-o", "cats.nex"], cwd=folder)
        check(r.returncode == 0, "conversion %r" % r.stderr)
        out = open("/dev/full", "wb") if redirect == "full" else None
        try:
            r = subprocess.run([vorn], input=b"cats.nex\nquit\n", stdout=out, stderr=subprocess.PIPE, cwd=folder,
                               timeout=60, preexec_fn=stdout_closed if redirect == "closed" else None)
        finally:
            if out:
                out.close()
        want = b"\nError: could not write to standard output\ntype \"quit\" to close program>>  "
        check(r.returncode == 8 and r.stderr == want, "exit %d, stderr %r" % (r.returncode, r.stderr))
    return within(fn)


TESTS = [
    # 1: a read that fails, or memory that cannot grow, is an error
    ("standard input a folder", within(stdin_is_folder)),
    ("80 MB of blanks through a pipe, 64 MB of memory", within(blanks_in_a_pipe)),
    # 2: bits and owner kept, a file '>' could not write left alone
    ("a 0600 output and a 0640 map keep their bits",
     written(["data.gen", "-o", "out.nex", "--map", "out.map"], private_and_foreign, keeps_bits)),
    ("another user's read-only file keeps its owner (as root)",
     written(["data.gen", "-o", "out.nex"], foreign, keeps_owner) if ROOT else lambda: print("skip (not root)")),
    ("a read-only file is refused", refused(
        ["data.gen", "-o", "ro.nex"], "vornconvert: cannot write 'ro.nex': Permission denied\n",
        lambda folder: (write(folder, "ro.nex", mode=0o444),
                        os.chown(path(folder, "ro.nex"), NOBODY, NOBODY) if ROOT else None), user=True)),
    # 3: links followed, never replaced
    ("a dangling link makes its target", written(["data.gen", "-o", "link.nex"], dangling, link_kept_target_made)),
    ("a link into a missing folder", refused(
        ["data.gen", "-o", "link.nex", "--map", "out.map"],
        "vornconvert: cannot write 'link.nex' (a link to 'no/new.nex'): No such file or directory\n",
        lambda folder: os.symlink("no/new.nex", path(folder, "link.nex")))),
    ("a link to a closed standard output", refused(
        ["data.gen", "-o", "out.nex"],
        re.compile(r"vornconvert: cannot write 'out\.nex' \(a link to '/proc/self/fd/1'\): .*\n"),
        lambda folder: os.symlink("/proc/self/fd/1", path(folder, "out.nex")), limits=stdout_closed)),
    # 4: controls escaped on the terminal, replaced in the files
    ("ESC and C1 controls in a file name and a population", within(terminal_safe)),
    # 5: vorn
    ("vorn with standard output on a full disk", vorn_lost("full")),
    ("vorn with standard output closed", vorn_lost("closed")),
    # 6: signals, and a file-size limit
    ("SIGINT", interrupted(signal.SIGINT)),
    ("SIGTERM", interrupted(signal.SIGTERM)),
    ("SIGHUP", interrupted(signal.SIGHUP)),
    ("a file-size limit: the older output kept", refused(
        ["data.gen", "-o", "out.nex"], "vornconvert: cannot write 'out.nex': File too large\n",
        lambda folder: write(folder, "out.nex"), limits=file_limit)),
    # 7: names as long as a name can be
    ("output names of 240 to 255 bytes", within(long_names)),
    # 8: both outputs or neither, one place each
    ("-o a folder with --map", refused(["data.gen", "-o", "sub", "--map", "out.map"],
                                      "vornconvert: cannot write 'sub': Is a directory\n",
                                      lambda folder: os.mkdir(path(folder, "sub")))),
    ("-o /dev/full with --map: no map", refused(["data.gen", "-o", "/dev/full", "--map", "out.map"],
                                                "vornconvert: cannot write '/dev/full': No space left on device\n")),
    ("--map /dev/full with -o: no output", refused(["data.gen", "-o", "out.nex", "--map", "/dev/full"],
                                                   "vornconvert: cannot write '/dev/full': No space left on device\n",
                                                   lambda folder: write(folder, "out.nex"))),
    ("--map on standard output beside the data", refused(
        ["data.gen", "--map", "/dev/stdout"], "vornconvert: --map needs a file of its own, apart from the output\n")),
    ("-o ''", refused(["data.gen", "-o", ""], "vornconvert: option -o needs a file name, not ''" + USAGE)),
    ("--map ''", refused(["data.gen", "--map="], "vornconvert: option --map needs a file name, not ''" + USAGE)),
]

main(TESTS)
