"""Shared pieces of the vornconvert tests.

The input counters and the data file parser here are written from the file
formats, apart from the converter's code, so that the tests compare two
independent readings of the same data.
"""

import math
import os
import re
import subprocess
import sys
from collections import Counter

ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvw"


class Failure(Exception):
    pass


def check(cond, message):
    if not cond:
        raise Failure(message)


def lines_of(path):
    with open(path, "rb") as f:
        text = f.read().decode("utf-8")
    if text.startswith("\ufeff"):
        text = text[1:]
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return [l[:-1] if l.endswith("\r") else l for l in lines]


# --- Direct readings of the inputs ------------------------------------------
#
# A reading is a dict: ploidy, loci (names), pops: list of (name, members),
# members a list of (name, genes), genes a list per locus of allele codes
# (None for a missing gene).


def read_genepop(path):
    lines = lines_of(path)
    loci, pops = [], []
    ploidy = None
    for line in lines[1:]:
        s = line.strip()
        if not s:
            continue
        first = s.split()[0]
        if first.lower() == "pop" and "," not in s:
            pops.append((s[3:].strip(), []))
            continue
        if not pops:
            loci += [n.strip() for n in s.split(",") if n.strip()]
            continue
        name, rest = line.split(",", 1)
        genes = []
        for g in rest.split():
            width = len(g)
            p = 1 if width <= 3 else 2
            ploidy = ploidy or p
            step = width // p
            genes.append([int(g[i:i + step]) or None for i in range(0, width, step)])
        pops[-1][1].append((name.strip(), genes))
    return {"ploidy": ploidy, "loci": loci, "pops": pops}


def read_structure(path, extra=0):
    rows = [l.split() for l in lines_of(path) if l.split()]
    lead = 2 + extra
    loci = None
    if len(rows) >= 2 and len(rows[0]) == len(rows[1]) - lead:
        loci = rows.pop(0)
    nloci = len(rows[0]) - lead
    loci = loci or ["locus%d" % (l + 1) for l in range(nloci)]
    ploidy = 2 if len(rows) >= 2 and rows[0][0] == rows[1][0] else 1
    pops = {}
    for i in range(0, len(rows), ploidy):
        group = rows[i:i + ploidy]
        genes = [[None if int(r[lead + l]) == -9 else int(r[lead + l]) for r in group]
                 for l in range(nloci)]
        pops.setdefault(int(group[0][1]), []).append((group[0][0], genes))
    return {"ploidy": ploidy, "loci": loci, "pops": [(str(k), v) for k, v in pops.items()]}


def code_counts(reading):
    """counts[p][l]: Counter of allele codes."""
    nloci = len(reading["loci"])
    return [[Counter(a for _, genes in members for a in genes[l] if a is not None)
             for l in range(nloci)] for _, members in reading["pops"]]


def first_met(reading):
    """order[l]: the codes of locus l in the order they first occur, reading
    populations, individuals and genes in turn."""
    order = [[] for _ in reading["loci"]]
    for _, members in reading["pops"]:
        for _, genes in members:
            for l, g in enumerate(genes):
                for a in g:
                    if a is not None and a not in order[l]:
                        order[l].append(a)
    return order


def individuals(reading):
    return sum(len(m) for _, m in reading["pops"])


# --- An independent reading of a converted data file -------------------------


def read_vorn(path):
    """The converted file read back: dict with ploidy, loci (labels), pops:
    list of (name, members), members a list of (name, symbols per locus)."""
    text = open(path, encoding="utf-8").read()
    m = re.match(r"#nexus\nbegin vorndata;\ndimensions npops=(\d+) nloci=(\d+);\n"
                 r"format (haploid missing=\?|diploid missing=\? separator=/);\n"
                 r"locusallelelabels\n(.*?)matrix\n(.*)end;\n\Z", text, re.S)
    check(m, "%s: not laid out as a vorn data file" % path)
    npops, nloci = int(m.group(1)), int(m.group(2))
    ploidy = 2 if m.group(3).startswith("diploid") else 1
    labels = []
    for i, line in enumerate(m.group(4).splitlines()):
        num, word = line.split()
        check(int(num) == i + 1, "label %s out of order" % num)
        check(word[-1] == (";" if i + 1 == nloci else ","), "label word %r" % word)
        labels.append(word[:-1])
    check(len(labels) == nloci, "%d labels for %d loci" % (len(labels), nloci))

    pops = []
    for line in m.group(5).splitlines():
        if line.endswith(":"):
            pops.append((line[:-1], []))
            continue
        words = line.split()
        check(len(words) == nloci + 1, "row %r: %d words" % (line, len(words)))
        name, genos = words[0], words[1:]
        if genos[-1][-1] in ",;":
            genos[-1] = genos[-1][:-1]
        size = 3 if ploidy == 2 else 1
        for g in genos:
            check(len(g) == size and (ploidy == 1 or g[1] == "/"), "genotype %r" % g)
        pops[-1][1].append((name, [g[::2] for g in genos]))
    check(len(pops) == npops, "%d populations, npops=%d" % (len(pops), npops))
    return {"ploidy": ploidy, "loci": labels, "pops": pops}


def read_map(path):
    """mapping[locus label][symbol] = allele code"""
    lines = open(path, encoding="utf-8").read().split("\n")
    check(lines[0] == "locus\tallele\tsymbol" and lines[-1] == "", "map header or ending")
    mapping = {}
    for line in lines[1:-1]:
        locus, code, symbol = line.split("\t")
        mapping.setdefault(locus, {})[symbol] = int(code)
    return mapping


# --- Running the programs ----------------------------------------------------


def run(cmd, stdin=b"", cwd=None):
    return subprocess.run(cmd, input=stdin, capture_output=True, cwd=cwd, timeout=60)


def vorn_summary(vorn, datafile, estimate=True):
    """(npops, nloci, individuals, theta, standard error) as vorn prints them;
    without estimate, only the first three and no need for an estimate."""
    folder, name = os.path.split(os.path.abspath(datafile))
    r = run([vorn], ("%s\nquit\n" % name).encode(), cwd=folder)
    out = r.stdout.decode()
    s = re.search(r"\nData matrix has (\d+) populations, (\d+) loci, and (\d+) individuals", out)
    e = re.search(r"\nEstimate of theta: (\S+) standard error: (\S+)", out)
    check(s and (e or not estimate), "vorn did not read %s:\n%s%s" % (datafile, out, r.stderr.decode()))
    if not estimate:
        return tuple(int(x) for x in s.groups())
    return tuple(int(x) for x in s.groups()) + (float(e.group(1)), float(e.group(2)))


def vorn_counts(vorncounts, datafile):
    """(nalleles per locus, counts[p][l][k]) as vorn's reader counted them."""
    r = run([vorncounts, datafile])
    out = r.stdout.decode()
    check("\n#counts\n" in out, "vorn's reader refused %s:\n%s%s" % (datafile, out, r.stderr.decode()))
    nalleles, counts = {}, {}
    for line in out.split("\n#counts\n")[1].splitlines():
        w = line.split()
        if w[0] == "npops":
            npops, nloci = int(w[1]), int(w[3])
            counts = [[[] for _ in range(nloci)] for _ in range(npops)]
        elif w[0] == "nalleles":
            nalleles[int(w[1]) - 1] = int(w[2])
        else:
            p, l, k, c = (int(x) for x in w[1:])
            check(k == len(counts[p - 1][l - 1]) + 1, "allele numbers out of order")
            counts[p - 1][l - 1].append(c)
    return [nalleles[l] for l in range(len(nalleles))], counts


def convert(conv, args, cwd=None):
    r = run([conv] + args, cwd=cwd)
    check(r.returncode == 0, "vornconvert %s failed (%d):\n%s" % (" ".join(args), r.returncode, r.stderr.decode()))
    return r


# --- The comparisons ----------------------------------------------------------


def compare_reader_counts(reading, nalleles, counts):
    """vorn's own counts against a direct count of the input: allele k of
    locus l is the k-th code met at l."""
    order = first_met(reading)
    direct = code_counts(reading)
    check(nalleles == [len(o) for o in order],
          "alleles per locus: vorn %s, input %s" % (nalleles, [len(o) for o in order]))
    for p, per_locus in enumerate(direct):
        for l, c in enumerate(per_locus):
            want = [c[a] for a in order[l]]
            check(counts[p][l] == want, "population %d locus %d: vorn %s, input %s" % (p + 1, l + 1, counts[p][l], want))


def compare_converted(reading, converted, mapping):
    """The converted file, read back through the map, against the input."""
    check(converted["ploidy"] == reading["ploidy"], "ploidy")
    check(len(converted["pops"]) == len(reading["pops"]), "number of populations")
    labels = converted["loci"]
    check(len(set(labels)) == len(labels), "locus labels not unique: %s" % labels)
    for l, label in enumerate(labels):
        symbols = mapping.get(label, {})
        codes = sorted(symbols.values())
        check([symbols[s] for s in ALPHABET[:len(symbols)]] == codes,
              "locus %s: symbols not given in increasing code order" % label)
    back = [[Counter(mapping[labels[l]][s] for _, genes in members for s in genes[l] if s != "?")
             for l in range(len(labels))] for _, members in converted["pops"]]
    check(back == code_counts(reading), "allele counts of the converted file differ from the input")
    for (_, cm), (_, rm) in zip(converted["pops"], reading["pops"]):
        check(len(cm) == len(rm), "individuals per population")


def main(tests):
    """Runs named test functions, prints a closing line, exits 1 on a failure."""
    failed = 0
    for name, fn in tests:
        try:
            fn()
            print("ok   %s" % name)
        except Failure as e:
            failed += 1
            print("FAIL %s: %s" % (name, e))
        except Exception as e:  # a reading that broke is a failure too
            failed += 1
            print("FAIL %s: %s: %s" % (name, type(e).__name__, e))
    print("%d passed, %d failed" % (len(tests) - failed, failed))
    sys.exit(1 if failed else 0)


def finite(x):
    return not math.isnan(x) and not math.isinf(x)
