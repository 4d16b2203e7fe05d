"""vornconvert at vorn's capacities and on its command line: message, exit
status, and nothing left behind.

    errors.py GROUP VORNCONVERT VORN VORNCOUNTS

GROUP is capacity or cli (the formats and layouts are in cases.py). Every
refused conversion runs in a folder of its own with -o and --map, where an
older output file stands; afterwards the folder must hold exactly what it
held before.
"""

import os
import shutil
import stat
import subprocess
import sys
import tempfile

from convtest import check, main, run, vorn_counts, vorn_summary

group = sys.argv[1]
conv, vorn, vorncounts = (os.path.abspath(a) for a in sys.argv[2:5])

OLD = b"an older output, to be kept\n"


STANDARD = ["-o", "out.nex", "--map", "out.map"]


def refused(input_name, text, args, message, outputs=STANDARD):
    """Converts text (saved as input_name) with args and outputs; expects
    exit 1 and the message on standard error, followed by a line break. An
    older out.nex stands in the folder when outputs name it."""
    def test():
        folder = tempfile.mkdtemp(prefix="errors.")
        try:
            with open(os.path.join(folder, input_name), "wb") as f:
                f.write(text if isinstance(text, bytes) else text.encode())
            keep = "out.nex" in outputs
            if keep:
                with open(os.path.join(folder, "out.nex"), "wb") as f:
                    f.write(OLD)
            before = sorted(os.listdir(folder))
            r = run([conv] + args + outputs, cwd=folder)
            err = r.stderr.decode()
            check(r.returncode == 1, "exit status %d, stderr %r" % (r.returncode, err))
            check(err == message + "\n", "stderr\n  got:      %r\n  expected: %r" % (err, message + "\n"))
            check(r.stdout == b"", "standard output %r" % r.stdout[:200])
            check(sorted(os.listdir(folder)) == before, "folder now holds %s" % sorted(os.listdir(folder)))
            if keep:
                check(open(os.path.join(folder, "out.nex"), "rb").read() == OLD, "older output changed")
        finally:
            shutil.rmtree(folder)
    return test


def gen(text, message, args=()):
    return refused("data.gen", text, list(args) + ["data.gen"], "vornconvert: " + message)


def st(text, message, args=()):
    return refused("data.str", text, list(args) + ["data.str"], "vornconvert: " + message)


def genepop_text(npops, nloci, alleles_at_first=1):
    """npops populations of one diploid individual each; locus 1 carries
    alleles_at_first distinct 3-digit codes, spread over extra individuals
    of the last population."""
    lines = ["capacity", ", ".join("L%d" % (l + 1) for l in range(nloci))]
    rest = " 100100" * (nloci - 1)
    for p in range(npops):
        lines += ["Pop", "p%d, 100100%s" % (p + 1, rest)]
    for a in range(2, alleles_at_first + 1):
        lines.append("x%d, %03d%03d%s" % (a, 100 + a, 100 + a, rest))
    return "\n".join(lines) + "\n"


def structure_text(npops, nloci, alleles_at_first=1):
    rows = []
    for p in range(npops):
        rows.append("p%d %d %s" % (p, p + 1, " ".join(["7"] * nloci)))
    for a in range(2, alleles_at_first + 1):
        rows.append("x%d 1 %d %s" % (a, 7 + a, " ".join(["7"] * (nloci - 1))))
    return "\n".join(rows) + "\n"


def fits(text, name, want, args=()):
    """At the limits: converted, and read by vorn and its reader."""
    def test():
        folder = tempfile.mkdtemp(prefix="fits.")
        try:
            with open(os.path.join(folder, name), "w") as f:
                f.write(text)
            r = run([conv, name, "-q", "-o", "out.nex"] + list(args), cwd=folder)
            check(r.returncode == 0, "refused: %s" % r.stderr.decode())
            # Data this uniform may have no estimate; the summary is what counts here.
            got = vorn_summary(vorn, os.path.join(folder, "out.nex"), estimate=False)
            check(got == want, "vorn read %s, expected %s" % (got, want))
            nalleles, _ = vorn_counts(vorncounts, os.path.join(folder, "out.nex"))
            check(max(nalleles) == 49, "most alleles at a locus %d" % max(nalleles))
        finally:
            shutil.rmtree(folder)
    return test


STR = ["--extracols", "0", "--ploidy", "1"]

CAPACITY = [
    ("Genepop: 99 populations, 99 loci, 49 alleles fit", fits(genepop_text(99, 99, 49), "max.gen", (99, 99, 147))),
    ("STRUCTURE: 99 populations, 99 loci, 49 alleles fit",
     fits(structure_text(99, 99, 49), "max.str", (99, 99, 147), STR)),
    ("Genepop: 100 populations", gen(
        genepop_text(100, 2),
        "data.gen: 100 populations: at most 99 fit in a vorn data file; choose which with --pops LIST "
        "(numbers or names, ranges such as 1-99)")),
    ("Genepop: 100 loci", gen(
        genepop_text(1, 100),
        "data.gen: 100 loci: at most 99 fit in a vorn data file; choose which with --loci LIST "
        "(numbers or names, ranges such as 1-99)")),
    ("Genepop: 50 alleles at a locus", gen(
        genepop_text(2, 3, 50),
        "data.gen:2: locus 1 'L1' has 50 alleles: at most 49 fit at one locus of a vorn data file; leave the "
        "locus out with --loci, or pool rare alleles")),
    ("STRUCTURE: 100 populations", st(
        structure_text(100, 2),
        "data.str: 100 populations: at most 99 fit in a vorn data file; choose which with --pops LIST "
        "(numbers or names, ranges such as 1-99)", STR)),
    ("STRUCTURE: 100 loci", st(
        structure_text(1, 100),
        "data.str: 100 loci: at most 99 fit in a vorn data file; choose which with --loci LIST "
        "(numbers or names, ranges such as 1-99)", STR)),
    ("STRUCTURE: 50 alleles at a locus", st(
        "l1 l2\n" + structure_text(1, 2, 50),
        "data.str:1: locus 1 'l1' has 50 alleles: at most 49 fit at one locus of a vorn data file; leave the "
        "locus out with --loci, or pool rare alleles", ["--ploidy", "1"])),
]

USAGE = "\nTry 'vornconvert --help' for more information."
CATS = "cats\nfca8\nPop\nc1, 0101\n"


def cli(args, message, text=CATS):
    return refused("data.gen", text, args, "vornconvert: " + message, [])


def helps():
    r = run([conv, "--help"])
    out = r.stdout.decode()
    check(r.returncode == 0 and r.stderr == b"", "exit %d" % r.returncode)
    for option in ("--format NAME", "-o, --output OUT", "--map MAPFILE", "--loci LIST", "--ploidy N",
                   "--onerowperind 0|1", "--missing N", "--extracols N", "--mainparams FILE", "--help", "--version"):
        check(option in out, "help does not mention %s" % option)
    r = run([conv, "--version"])
    check(r.returncode == 0 and r.stdout.startswith(b"vornconvert "), "version: %r" % r.stdout)


def replaces_output():
    # A successful conversion takes the place of an older output and map.
    folder = tempfile.mkdtemp(prefix="cli.")
    try:
        for f in ("data.gen", "out.nex", "out.map"):
            with open(os.path.join(folder, f), "w") as fh:
                fh.write(CATS if f == "data.gen" else "older\n")
        r = run([conv, "data.gen", "-q", "-o", "out.nex", "--map", "out.map"], cwd=folder)
        check(r.returncode == 0 and r.stdout == b"" and r.stderr == b"", "exit %d %r" % (r.returncode, r.stderr))
        check(sorted(os.listdir(folder)) == ["data.gen", "out.map", "out.nex"], "folder %s" % os.listdir(folder))
        check(open(os.path.join(folder, "out.nex")).read().startswith("#nexus\n"), "output not replaced")
        check(open(os.path.join(folder, "out.map")).read() == "locus\tallele\tsymbol\nfca8\t1\tA\n", "map")
    finally:
        shutil.rmtree(folder)


def links_and_pipes():
    # An output named through a symbolic link replaces the file, not the link;
    # a pipe is written into, not replaced.
    folder = tempfile.mkdtemp(prefix="cli.")
    try:
        with open(os.path.join(folder, "data.gen"), "w") as f:
            f.write(CATS)
        with open(os.path.join(folder, "real.nex"), "w") as f:
            f.write("older\n")
        os.symlink("real.nex", os.path.join(folder, "link.nex"))
        r = run([conv, "data.gen", "-o", "link.nex"], cwd=folder)
        check(r.returncode == 0, "through a link: %r" % r.stderr)
        check(os.readlink(os.path.join(folder, "link.nex")) == "real.nex", "link replaced")
        check(open(os.path.join(folder, "real.nex")).read().startswith("#nexus\n"), "file behind the link")

        fifo = os.path.join(folder, "pipe")
        os.mkfifo(fifo)
        reader = subprocess.Popen(["cat", fifo], stdout=subprocess.PIPE)
        try:
            r = run([conv, "data.gen", "--map", "pipe"], cwd=folder)
            got = reader.communicate(timeout=30)[0]
        finally:
            if reader.poll() is None:
                reader.kill()
                reader.wait()
        check(r.returncode == 0, "into a pipe: %r" % r.stderr)
        check(got == b"locus\tallele\tsymbol\nfca8\t1\tA\n", "pipe got %r" % got)
        check(stat.S_ISFIFO(os.lstat(fifo).st_mode), "pipe replaced")
        check(sorted(os.listdir(folder)) == ["data.gen", "link.nex", "pipe", "real.nex"], "folder %s" % os.listdir(folder))
    finally:
        shutil.rmtree(folder)


def standard_streams():
    # INPUT '-' reads standard input; without -o the file goes to standard output.
    r = run([conv, "-"], CATS.encode())
    check(r.returncode == 0 and r.stdout.startswith(b"#nexus\n") and r.stderr.endswith(b"; wrote standard output\n"),
          "from standard input")
    r = run([conv, "-"], b"cats\nfca8\nPop\nc1, 0101\nc2, 0101 0202\n")
    check(r.returncode == 1 and r.stderr.decode() == "vornconvert: (standard input):5: expected 1 genotype "
          "(one per locus) after the name, found 2\n", "stderr %r" % r.stderr)


CLI = [
    ("no input", cli([], "no INPUT file given" + USAGE)),
    ("two inputs", cli(["data.gen", "other.gen"], "only one INPUT file can be given; 'other.gen' is a second" + USAGE)),
    ("unknown option", cli(["--ploidie", "2", "data.gen"], "unknown option '--ploidie'" + USAGE)),
    ("unknown format", cli(["--format", "genetix", "data.gen"],
                           "--format must be genepop, structure, fstat, genalex, arlequin or vcf, not 'genetix'" + USAGE)),
    ("option without its value", cli(["data.gen", "-o"], "option -o needs a value" + USAGE)),
    ("extra columns not a number", cli(["--extra-cols=two", "data.gen"],
                                       "--extra-cols: EXTRACOLS must be a whole number from 0 to 100000, not 'two'"
                                       + USAGE)),
    ("a flag that is not 0 or 1", cli(["--onerowperind", "2", "data.gen"],
                                      "--onerowperind: ONEROWPERIND must be 0 or 1, not '2'" + USAGE)),
    ("extra columns for Genepop", cli(["--extra-cols", "1", "data.gen"],
                                      "--extra-cols applies to STRUCTURE files only, and 'data.gen' is read as Genepop")),
    ("input missing", cli(["nothere.gen"], "cannot open 'nothere.gen': No such file or directory")),
    ("input a folder", cli(["."], "cannot read '.': it is a directory")),
    ("output over the input", cli(["data.gen", "-o", "./data.gen"], "will not write over the input file 'data.gen'")),
    ("map over the output", cli(["data.gen", "-o", "x.nex", "--map", "x.nex"],
                                "--map needs a file of its own, apart from the output")),
    ("output into a missing folder", cli(["data.gen", "-o", "no/out.nex", "--map", "out.map"],
                                         "cannot write 'no/out.nex': No such file or directory")),
    ("map into a missing folder", refused("data.gen", CATS, ["data.gen"],
                                          "vornconvert: cannot write 'no/out.map': No such file or directory",
                                          ["-o", "out.nex", "--map", "no/out.map"])),
    ("older output and map replaced", replaces_output),
    ("output through a link or into a pipe", links_and_pipes),
    ("help and version", helps),
    ("standard input and output", standard_streams),
]

main({"capacity": CAPACITY, "cli": CLI}[group])
