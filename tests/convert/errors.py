"""vornconvert's refusals: message, exit status, and nothing left behind.

    errors.py GROUP VORNCONVERT VORN VORNCOUNTS

GROUP is genepop, structure, capacity or cli. Every refused conversion runs
in a folder of its own with -o and --map, where an older output file stands;
afterwards the folder must hold exactly what it held before.
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


GENEPOP = [
    ("missing first Pop line", gen(
        "cats\nloc1\nloc2\nind1, 0101 0202\nPop\nind2, 0101 0202\n",
        "data.gen:4: expected a locus name or a 'Pop' line, found an individual 'ind1, 0101 0202': "
        "the 'Pop' line before the first population is missing")),
    ("no Pop line at all", gen(
        "cats\nloc1, loc2\n",
        "data.gen:2: end of file: expected a 'Pop' line and a population", ["--format", "genepop"])),
    ("Pop line before the locus names", gen(
        "cats\nPOP\nind1, 0101\n",
        "data.gen:2: expected the locus names before the first 'Pop' line")),
    ("too few genotypes", gen(
        "cats\nloc1,loc2,loc3\npop\nind1, 0101 0202 0303\nind2, 0101 0202\n",
        "data.gen:5: expected 3 genotypes (one per locus) after the name, found 2")),
    ("too many genotypes", gen(
        "cats\nloc1\npop\nind1, 0101 0202\n",
        "data.gen:4: expected 1 genotype (one per locus) after the name, found 2")),
    ("genotype narrower than the first", gen(
        "cats\nloc1\nloc2\nPop\nind1 , 0101 0202\nind2 , 0101 020\n",
        "data.gen:6: genotype 2 '020' has 3 digits, expected 4 digits (diploid, two alleles of 2 digits) "
        "as set by the first genotype on line 5")),
    ("diploid after haploid", gen(
        "cats\nloc1\nloc2\nPop\nind1 , 120 124\nPop\nind2 , 120124 124124\n",
        "data.gen:7: genotype 1 '120124' has 6 digits, expected 3 digits (haploid, one allele of 3 digits) "
        "as set by the first genotype on line 5")),
    ("width that is no coding", gen(
        "cats\nloc1\nPop\nind1, 01020\n",
        "data.gen:4: genotype 1 '01020' has 5 digits: expected 2 or 3 (haploid, one allele) "
        "or 4 or 6 (diploid, two alleles)")),
    ("non-numeric code", gen(
        "cats\nloc1\nloc2\nPop\nind1, 0101 0202\nind2, 0101 02b2\n",
        "data.gen:6: genotype 2 '02b2' is not a number: expected 4 digits (diploid, two alleles of 2 digits)")),
    ("non-numeric first code", gen(
        "cats\nloc1\nPop\nind1, A/B\n",
        "data.gen:4: genotype 1 'A/B' is not a number: expected 2, 3, 4 or 6 digits")),
    ("individual without a comma", gen(
        "cats\nloc1\nloc2\nPop\nind1 0101 0202\n",
        "data.gen:5: expected an individual as 'name , genotypes' or a 'Pop' line, found 'ind1 0101 0202'")),
    ("empty population between two", gen(
        "cats\nloc1\nPop\nind1, 0101\nPop\n\nPop\nind2, 0101\n",
        "data.gen:5: population 2 (the 'Pop' line here) has no individuals")),
    ("empty population at the end", gen(
        "cats\r\nloc1\r\nPop\r\nind1, 0101\r\npop\r\n",
        "data.gen:5: population 2 (the 'Pop' line here) has no individuals")),
    ("two loci of one name", gen(
        "cats\nfca8, fca23\nfca8\nPop\nind1, 0101 0202 0303\n",
        "data.gen:3: locus 3 'fca8' has the same name as locus 1 (line 2): locus names must be unique")),
    ("empty file", gen(
        "", "data.gen: the file is empty: expected a title line, locus names and populations",
        ["--format", "genepop"])),
]

STRUCTURE = [
    ("ragged row", st(
        "a 1 120 130\na 1 122 130\nb 2 120\nb 2 120 130\n",
        "data.str:3: expected 4 columns (label, population, 2 loci), found 3")),
    ("ragged row with extra columns", st(
        "a 1 0 120 130\na 1 0 122 130 140\n",
        "data.str:2: expected 5 columns (label, population, 1 extra column, 2 loci), found 6",
        ["--extra-cols", "1"])),
    ("non-numeric code", st(
        "loc1 loc2\na 1 120 130\na 1 122 13O\n",
        "data.str:3: column 4 '13O': expected an allele code (a whole number, 0 or more) or -9 for a missing gene")),
    ("negative code other than -9", st(
        "a 1 120 -1\nb 1 122 130\n",
        "data.str:1: column 4 '-1': expected an allele code (a whole number, 0 or more) or -9 for a missing gene",
        ["--format", "structure"])),
    ("population that is no number", st(
        "a 1 120 130\nb north 122 130\n",
        "data.str:2: column 2 'north': expected a population number")),
    ("diploid rows of two labels", st(
        "a 1 120 130\na 1 122 130\nb 1 120 130\nc 1 120 130\n",
        "data.str:4: expected the second row of individual 'b' (diploid data take two rows per individual), "
        "found label 'c'")),
    ("diploid individual with one row", st(
        "a 1 120 130\na 1 122 130\nb 1 120 130\n",
        "data.str:3: individual 'b' has one row: diploid data take two rows per individual")),
    ("diploid rows of two populations", st(
        "a 1 120 130\na 1 122 130\nb 1 120 130\n\nb 2 120 130\n",
        "data.str:5: population 2 differs from population 1 on the first row of individual 'b' (line 3)")),
    ("no locus column", st(
        "a 1\nb 1\n",
        "data.str:1: expected a label, a population number and at least one locus, found 2 columns "
        "(read as STRUCTURE since no line is 'Pop' and none has a comma; see --format)")),
    ("no rows", st(
        "\n  \n", "data.str: the file has no rows: expected one row per individual (two if diploid)")),
    # A Genepop file whose individuals lost their commas has nothing to tell
    # it from a table: the message says how the file was taken.
    ("Genepop without commas, read as a table", st(
        "cats\nloc1\npopulation one\nind1 0101\n",
        "data.str:1: expected a label, a population number and at least one locus, found 1 column "
        "(read as STRUCTURE since no line is 'Pop' and none has a comma; see --format)")),
]


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


def fits(text, name, want):
    """At the limits: converted, and read by vorn and its reader."""
    def test():
        folder = tempfile.mkdtemp(prefix="fits.")
        try:
            with open(os.path.join(folder, name), "w") as f:
                f.write(text)
            r = run([conv, name, "-o", "out.nex"], cwd=folder)
            check(r.returncode == 0, "refused: %s" % r.stderr.decode())
            # Data this uniform may have no estimate; the summary is what counts here.
            got = vorn_summary(vorn, os.path.join(folder, "out.nex"), estimate=False)
            check(got == want, "vorn read %s, expected %s" % (got, want))
            nalleles, _ = vorn_counts(vorncounts, os.path.join(folder, "out.nex"))
            check(max(nalleles) == 49, "most alleles at a locus %d" % max(nalleles))
        finally:
            shutil.rmtree(folder)
    return test


CAPACITY = [
    ("Genepop: 99 populations, 99 loci, 49 alleles fit", fits(genepop_text(99, 99, 49), "max.gen", (99, 99, 147))),
    ("STRUCTURE: 99 populations, 99 loci, 49 alleles fit",
     fits(structure_text(99, 99, 49), "max.str", (99, 99, 147))),
    ("Genepop: 100 populations", gen(
        genepop_text(100, 2),
        "data.gen:201: population 100 begins here: at most 99 populations fit in a vorn data file")),
    ("Genepop: 100 loci", gen(
        genepop_text(1, 100),
        "data.gen:2: locus 100 'L100': at most 99 loci fit in a vorn data file")),
    ("Genepop: 100 loci one per line", gen(
        "many\n" + "".join("locus %d\n" % (l + 1) for l in range(100)) + "Pop\n",
        "data.gen:101: locus 100 'locus 100': at most 99 loci fit in a vorn data file")),
    ("Genepop: 50 alleles at a locus", gen(
        genepop_text(2, 3, 50),
        "data.gen:55: allele code 150 is the 50th distinct code at locus 1 'L1': at most 49 alleles fit at one locus")),
    ("STRUCTURE: 100 populations", st(
        structure_text(100, 2),
        "data.str:100: population 100 is the 100th population: at most 99 populations fit in a vorn data file")),
    ("STRUCTURE: 100 loci", st(
        structure_text(1, 100),
        "data.str:1: 100 loci: at most 99 loci fit in a vorn data file", ["--format", "structure"])),
    ("STRUCTURE: 50 alleles at a locus", st(
        "l1 l2\n" + structure_text(1, 2, 50),
        "data.str:51: allele code 57 is the 50th distinct code at locus 1 'l1': at most 49 alleles fit at one locus")),
]

USAGE = "\nTry 'vornconvert --help' for more information."
CATS = "cats\nfca8\nPop\nc1, 0101\n"


def cli(args, message, text=CATS):
    return refused("data.gen", text, args, "vornconvert: " + message, [])


def helps():
    r = run([conv, "--help"])
    out = r.stdout.decode()
    check(r.returncode == 0 and r.stderr == b"", "exit %d" % r.returncode)
    for option in ("--format genepop|structure", "-o, --output OUT", "--map MAPFILE", "--extra-cols N",
                   "--help", "--version"):
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
        r = run([conv, "data.gen", "-o", "out.nex", "--map", "out.map"], cwd=folder)
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
    check(r.returncode == 0 and r.stdout.startswith(b"#nexus\n") and r.stderr == b"", "from standard input")
    r = run([conv, "-"], b"cats\nfca8\nPop\nc1, 0101 0202\n")
    check(r.returncode == 1 and r.stderr.decode() == "vornconvert: (standard input):4: expected 1 genotype "
          "(one per locus) after the name, found 2\n", "stderr %r" % r.stderr)


CLI = [
    ("no input", cli([], "no INPUT file given" + USAGE)),
    ("two inputs", cli(["data.gen", "other.gen"], "only one INPUT file can be given; 'other.gen' is a second" + USAGE)),
    ("unknown option", cli(["--ploidy", "2", "data.gen"], "unknown option '--ploidy'" + USAGE)),
    ("unknown format", cli(["--format", "fstat", "data.gen"], "--format must be genepop or structure, not 'fstat'" + USAGE)),
    ("option without its value", cli(["data.gen", "-o"], "option -o needs a value" + USAGE)),
    ("extra columns not a number", cli(["--extra-cols=two", "data.gen"],
                                       "--extra-cols must be a whole number from 0 to 1000, not 'two'" + USAGE)),
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

main({"genepop": GENEPOP, "structure": STRUCTURE, "capacity": CAPACITY, "cli": CLI}[group])
