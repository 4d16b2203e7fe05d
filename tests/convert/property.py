"""Generated Genepop files, fixed seeds: what vorn's reader counts in the
converted file equals a direct count of the input, and so does an
independent reading of the converted file through its allele map. The files
vary in ploidy, digits per allele, missing genes, layout (locus names per
line or by commas, letter case of 'Pop', CRLF, blank lines, tabs) and in
names that must be made safe (blanks, , ; : =, long names sharing a prefix,
UTF-8 text cut at the length limit).

    property.py VORNCONVERT VORN VORNCOUNTS [SEEDS]
"""

import os
import random
import shutil
import sys
import tempfile

from convtest import (check, compare_converted, compare_reader_counts, convert, individuals, main, read_genepop,
                      read_map, read_vorn, vorn_counts, vorn_summary)

conv, vorn, vorncounts = (os.path.abspath(a) for a in sys.argv[1:4])
seeds = int(sys.argv[4]) if len(sys.argv) > 4 else 40

LONG = "Microsatellite_marker_from_library_B_clone_"  # longer than any label


def name(rng, i, kind):
    return rng.choice([
        "%s%d" % (kind, i),
        "%s %d" % (kind.capitalize(), i),
        "%s:%d=x;y" % (kind, i),
        "%s%d" % (LONG, i),
        "Zürich-Höhe-Ærø-%s-%d-ééééééééééééééééé" % (kind, i),
        "\t%s\t%d " % (kind, i),
    ])


def genepop(rng):
    ploidy = rng.choice([1, 2])
    digits = rng.choice([2, 3])
    top = 10 ** digits - 1
    nloci = rng.choice([1, 2, 3, 5, 8, 13])
    npops = rng.randint(1, 7)
    missing = rng.choice([0.0, 0.05, 0.3])
    pools = []
    for _ in range(nloci):
        size = 49 if rng.random() < 0.1 else rng.randint(1, 12)
        pools.append(rng.sample(range(1, top + 1), size))

    loci = [name(rng, l + 1, "loc") for l in range(nloci)]
    lines = ["generated genotypes, seed %d" % rng.seed_value]
    style = rng.choice(["lines", "commas", "split"])
    if style == "lines":
        lines += loci
    elif style == "commas":
        lines.append(", ".join(l.strip() for l in loci))
    else:
        half = (nloci + 1) // 2
        lines += [",".join(loci[:half]) + ",", ",".join(loci[half:])]

    def gene(l):
        return 0 if rng.random() < missing else rng.choice(pools[l])

    count = 0
    for p in range(npops):
        if rng.random() < 0.2:
            lines.append("")
        pop = rng.choice(["Pop", "POP", "pop", "  Pop\t", "Pop " + name(rng, p + 1, "site")])
        lines.append(pop)
        for _ in range(rng.randint(1, 8)):
            count += 1
            genotypes = []
            for l in range(nloci):
                alleles = [gene(l) for _ in range(ploidy)]
                genotypes.append("".join("%0*d" % (digits, a) for a in alleles))
            who = rng.choice([name(rng, count, "ind"), "", "  "])
            comma = rng.choice([", ", ",", " ,  ", " , "])
            sep = rng.choice([" ", "  ", "\t"])
            lines.append(who + comma + sep.join(genotypes))
    ending = rng.choice(["\n", "\r\n"])
    text = ending.join(lines) + rng.choice([ending, ""])
    return text.encode("utf-8")


def names_are_safe(converted):
    labels = converted["loci"]
    for label in labels:
        check(0 < len(label.encode()) <= 38, "label %r" % label)
        check(not any(c in label for c in " \t,;:="), "label %r" % label)
    check(len(set(labels)) == len(labels), "labels %s" % labels)
    for pop, members in converted["pops"]:
        check(0 < len(pop.encode()) <= 39 and ":" not in pop and pop.strip() == pop, "population %r" % pop)
        for who, _ in members:
            check(0 < len(who.encode()) <= 39, "individual %r" % who)


def case(seed):
    def test():
        rng = random.Random(seed)
        rng.seed_value = seed
        folder = tempfile.mkdtemp(prefix="property.")
        try:
            path = os.path.join(folder, "gen%d.gen" % seed)
            with open(path, "wb") as f:
                f.write(genepop(rng))
            out = os.path.join(folder, "out.nex")
            r = convert(conv, [path, "--map", os.path.join(folder, "out.map")])
            with open(out, "wb") as f:
                f.write(r.stdout)

            reading = read_genepop(path)
            compare_reader_counts(reading, *vorn_counts(vorncounts, out))
            converted = read_vorn(out)  # fails on a cut UTF-8 character too
            compare_converted(reading, converted, read_map(os.path.join(folder, "out.map")))
            names_are_safe(converted)
            want = (len(reading["pops"]), len(reading["loci"]), individuals(reading))
            got = vorn_summary(vorn, out, estimate=False)
            check(got == want, "vorn read %s, the input has %s" % (got, want))
        finally:
            shutil.rmtree(folder)
    return test


main([("seed %d" % s, case(s)) for s in range(1, seeds + 1)])
