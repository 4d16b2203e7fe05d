"""Round trips on real data: the Nancy cats, as a Genepop file and as a
STRUCTURE file (see data/README.md). Each is converted, read by vorn and by
vorn's reader, and held against a direct count of the input.

    roundtrip.py VORNCONVERT VORN VORNCOUNTS DATADIR
"""

import atexit
import os
import shutil
import sys
import tempfile

from convtest import (check, compare_converted, compare_reader_counts, convert, finite, individuals, main,
                      read_genepop, read_map, read_structure, read_vorn, vorn_counts, vorn_summary)

conv, vorn, vorncounts, datadir = (os.path.abspath(a) for a in sys.argv[1:5])
work = tempfile.mkdtemp(prefix="roundtrip.")
atexit.register(shutil.rmtree, work)
estimates = {}


def roundtrip(name, reading, args, popnames, estimate=True):
    out = os.path.join(work, name + ".nex")
    mapfile = os.path.join(work, name + ".map")
    convert(conv, args + ["-o", out, "--map", mapfile])

    summary = vorn_summary(vorn, out, estimate)
    want = (len(reading["pops"]), len(reading["loci"]), individuals(reading))
    check(summary[:3] == want, "vorn counted %s, the input has %s" % (summary[:3], want))
    if estimate:
        theta, se = summary[3:]
        check(finite(theta) and theta > 0 and finite(se) and se > 0, "estimate %s, standard error %s" % (theta, se))
        estimates[name] = (theta, se)

    compare_reader_counts(reading, *vorn_counts(vorncounts, out))
    converted = read_vorn(out)
    compare_converted(reading, converted, read_map(mapfile))
    check([n for n, _ in converted["pops"]] == popnames, "population names %s" % [n for n, _ in converted["pops"]])
    want_labels = [l.replace(":", "_") for l in reading["loci"]]
    check(converted["loci"] == want_labels, "locus labels %s" % converted["loci"])


def genepop():
    path = os.path.join(datadir, "nancycats.gen")
    reading = read_genepop(path)
    check((len(reading["pops"]), len(reading["loci"]), individuals(reading)) == (17, 9, 237), "input count")
    # Genepop populations are named after their last individual, here the colony number.
    roundtrip("gen", reading, [path], [str(p) for p in range(1, 18)])


def structure():
    path = os.path.join(datadir, "nancycats.str")
    reading = read_structure(path, extra=1)
    # Colony 12 stands in two blocks of the file; it is gathered in one population.
    check([n for n, _ in reading["pops"]] == [str(p) for p in range(1, 18)], "input populations")
    roundtrip("str", reading, ["--extra-cols", "1", path], [str(p) for p in range(1, 18)])


def structure_layouts():
    # Locus names from a first row, haploid rows, populations interleaved and
    # numbered out of order, allele 0 and a missing gene.
    path = os.path.join(work, "layout.str")
    with open(path, "w") as f:
        f.write("snp_1 snp-2 snp:3\n"
                "a1 7 0 1 1\n"
                "b1 3 1 -9 0\n"
                "a2 7 1 1 0\n"
                "c1 12 0 0 0\n"
                "b2 3 0 1 1\n")
    reading = read_structure(path)
    check(reading["ploidy"] == 1 and individuals(reading) == 5, "input count")
    roundtrip("layout", reading, ["--ploidy", "1", path], ["7", "3", "12"], estimate=False)


def same_cats():
    # The two files code the same genotypes differently (allele ranks and
    # allele sizes); the estimate does not depend on the coding.
    check(len(estimates) == 2, "both conversions needed")
    (t1, s1), (t2, s2) = estimates["gen"], estimates["str"]
    check(abs(t1 - t2) <= 1e-4 * t1 and abs(s1 - s2) <= 1e-4 * s1,
          "Genepop gives %s (%s), STRUCTURE %s (%s)" % (t1, s1, t2, s2))


main([("nancycats.gen", genepop), ("nancycats.str", structure), ("same estimate from both files", same_cats),
      ("STRUCTURE layouts", structure_layouts)])
