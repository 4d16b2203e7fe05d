"""The formats and layouts vornconvert reads, as a table: one row per case.

    cases.py VORNCONVERT VORN VORNCOUNTS DATADIR

A row is (input, options, status, expected). The input is a file of DATADIR,
a variant of the cats made below, or a small text written out here. With
status 0, expected is what vorn reads in the converted file: populations,
loci and individuals, then the estimate and its standard error ('-' where
vorn finds none), then, after '|', text that standard error must hold. With
status 1, expected is the whole message after 'vornconvert: '.

The cats of Nancy stand in the table in every format and many layouts; read
the right way, each gives the same line from vorn, so a layout read the wrong
way shows as a different number. The last test holds the five formats'
converted files against one another, population by population and locus by
locus.
"""

import os
import re
import shutil
import sys
import tempfile
from collections import Counter

from convtest import check, main, read_vorn, run

conv, vorn, vorncounts, datadir = (os.path.abspath(a) for a in sys.argv[1:5])

CATS = "17 9 237 10.2041 0.705689"
LOCI = "fca8 fca23 fca43 fca45 fca77 fca78 fca90 fca96 fca37"


def cats():
    """The rows of nancycats.str: label, colony, one extra column, 9 loci."""
    with open(os.path.join(datadir, "nancycats.str")) as f:
        return [l.split() for l in f if l.strip()]


def table(rows, sep=" "):
    return "".join(sep.join(r) + "\n" for r in rows)


def onerow(rows):
    """Two rows per cat made one, the alleles of a locus side by side."""
    return [a[:3] + [x for pair in zip(a[3:], b[3:]) for x in pair] for a, b in zip(rows[::2], rows[1::2])]


VARIANTS = {
    "onerow.str": lambda: table(onerow(cats())),
    "onerow-names.str": lambda: LOCI + "\n" + table(onerow(cats())),
    "onerow-names-noextra.str": lambda: LOCI + "\n" + table(r[:2] + r[3:] for r in onerow(cats())),
    "popflag-locdata-names.str": lambda: LOCI + "\n" + table(r[:2] + ["1", "7"] + r[3:] for r in cats()),
    "zero-missing.str": lambda: table([x if x != "-9" else "0" for x in r] for r in cats()),
    "labels-a-b.str": lambda: table([r[0] + "_ab"[1 + i % 2]] + r[1:] for i, r in enumerate(cats())),
    "colony-names.str": lambda: table([r[0], "colony" + r[1]] + r[3:] for r in cats()),
    "ind-pop-header.str": lambda: "Ind Pop " + LOCI + "\n" + table(r[:2] + r[3:] for r in cats()),
    "flag-column.str": lambda: "Ind Pop Flag " + LOCI + "\n" + table(r[:2] + [str(int(r[1]) % 2)] + r[3:]
                                                                    for r in cats()),
    "comma.str": lambda: table(cats(), ","),
    "zero-allele.str": lambda: table(r[:3] + ["0" if x == "-9" and i == 0 else x for i, x in enumerate(r[3:])]
                                     for r in cats()),
    "tab.csv": lambda: open(os.path.join(datadir, "nancycats.csv")).read().replace(",", "\t"),
    "semicolon.csv": lambda: open(os.path.join(datadir, "nancycats.csv")).read().replace(",", ";"),
    "many-loci.gen": lambda: "many loci\n" + ", ".join("L%d" % l for l in range(150)) + "\n" + "".join(
        "Pop\n" + "".join("i%d%d, %s\n" % (p, i, " ".join("%02d%02d" % (1 + (p + i + l) % 5, 1 + (i * l) % 4)
                                                          for l in range(150))) for i in range(4))
        for p in range(3)),
    "many-pops.str": lambda: "".join("i%d %d %d %d\n" % (p, p + 1, 100 + p % 3, 100 + p % 2) for p in range(120)),
}

TEXTS = {
    # Genepop
    "names-blanks.gen": "title\nloc1 loc2 loc3\nPop\na, 0101 0202 0303\nPop\nb, 0102 0202 0304\n",
    "name-with-blank.gen": "title\nlocus one\nPop\na, 0101\nPop\nb, 0102\n",
    "continued.gen": "title\nA, B, C\npop\nx1 , 0101 0202\n 0303\nx2, 0102\n0203\n0304\nPOP\ny1, 0202 0303 0404\n",
    "named-pops.gen": "t\nL1\nPop, North\na, 0101\nb, 0102\nPOP South\nc, 0202\nPop\nd, 0102\n",
    "same-pop-names.gen": "t\nL1\nPop North\na, 0101\nPop North\nb, 0202\n",
    "last-names-clash.gen": "t\nL1\nPop\na, 0101\nz, 0102\nPop\nb, 0202\nz, 0102\n",
    "no-title.gen": "loc1, loc2, loc3\nPop\na, 0101 0202 0303\n",
    "no-title-lines.gen": "loc1\nloc2\nloc3\nPop\na, 0101 0202 0303\n",
    "duplicate-loci.gen": "t\nfca8, fca23, fca8\nPop\na, 0101 0202 0303\nPop\nb, 0102 0202 0304\n",
    "mixed-ploidy.gen": "t\nL1, L2, mtDNA\nPop\na, 0101 003004 01\nPop\nb, 0202 004004 02\nc, 0102 003003 01\n",
    "no-pop-line.gen": "cats\nloc1\nloc2\nind1, 0101 0202\nPop\nind2, 0101 0202\n",
    "empty-pop.gen": "cats\nloc1\nPop\nind1, 0101\nPop\n\nPop\nind2, 0101\n",
    "wrong-width.gen": "cats\nloc1\nloc2\nPop\nind1 , 0101 0202\nind2 , 0101 020\n",
    "no-comma.gen": "cats\nloc1\nloc2\nPop\nind1 0101 0202\n",
    "too-few.gen": "cats\nloc1,loc2,loc3\npop\nind1, 0101 0202 0303\nind2, 0101 0202\n",
    # STRUCTURE
    "haploid.str": "snp_1 snp-2 snp:3\na1 7 0 1 1\nb1 3 1 -9 0\na2 7 1 1 0\nc1 12 0 0 0\nb2 3 0 1 1\n",
    "ragged.str": "a 1 120 130\na 1 122 130\nb 2 120\nb 2 120 130\n",
    "one-row-left.str": "a 1 120 130\na 1 122 130\nb 1 120 130\n",
    "two-pops.str": "a 1 120 130\na 1 122 130\nb 1 120 130\n\nb 2 120 130\n",
    "mainparams": "#define NUMINDS 237 // cats\n#define NUMLOCI 9\n#define PLOIDY 2\n#define MISSING -9\n"
                  "#define ONEROWPERIND 0\n#define LABEL 1\n#define POPDATA 1\n#define POPFLAG 0\n"
                  "#define LOCDATA 0\n#define PHENOTYPE 0\n#define EXTRACOLS 1\n#define MARKERNAMES 0\n",
    "bad-mainparams": "#define EXTRACOLS one\n",
    # FSTAT
    "short-row.dat": "2 2 9 1\nL1\nL2\n1 11 12\n2 22\n",
    "sample-out-of-range.dat": "2 1 9 1\nL1\n1 11\n3 22\n",
    "two-loci.dat": "2 2 9 1\nL1\nL2\n1 11 12\n1 11 0\n2 22 10\n2 21 22\n",
    # GenAlEx
    "haploid.csv": "2,4,2,2,2\nhaploid,,,P1,P2\nInd,Pop,L1,L2\na,P1,1,2\nb,P1,1,0\nc,P2,2,2\nd,P2,2,1\n",
    "wrong-size.csv": "1,3,2,2,1\nt,,,P1,P2\nInd,Pop,L1,\na,P1,1,2\nb,P2,1,1\nc,P2,2,2\n",
    "one-locus.csv": "1,2,2,1,1\nt,,,P1,P2\nInd,Pop,L1\na,P1,1,2,,7.5\nb,P2,1,1,,8.5\n",
    # Arlequin
    "haplotypes.arp": "[Profile]\n Title=\"haplotypes\"\n NbSamples=2\n DataType=STANDARD\n GenotypicData=0\n"
                      " MissingData='?'\n[Data]\n[[Samples]]\n SampleName=\"north\"\n SampleSize=5\n"
                      " SampleData={\nh1 3 A B\nh2 2 A ?\n }\n SampleName=\"south\"\n SampleSize=3\n"
                      " SampleData= {\nh3 2 B B  # a comment\nh4 1 B C }\n",
    "dna.arp": "[Profile]\nNbSamples=2\nDataType=DNA\nGenotypicData=0\nLocusSeparator=NONE\n[Data]\n[[Samples]]\n"
               "SampleName=\"a\"\nSampleSize=2\nSampleData={\n1 1 ACGT\n2 1 ACGA\n}\nSampleName=\"b\"\n"
               "SampleSize=2\nSampleData={\n3 1 TCGA\n4 1 TCGA\n}\n",
    "frequencies.arp": "[Profile]\nNbSamples=1\nDataType=FREQUENCY\n[Data]\n[[Samples]]\nSampleName=\"a\"\n",
    "wrong-samplesize.arp": "[Profile]\nNbSamples=1\nDataType=MICROSAT\nGenotypicData=1\n[Data]\n[[Samples]]\n"
                            "SampleName=\"a\"\nSampleSize=3\nSampleData={\n1 1 120\n 122\n}\n",
    # none of them
    "words.txt": "Genotypes of cats, to be typed in\nsee the lab book\n",
}

B = "biopython/"
NOFORMAT = ("not a Genepop, STRUCTURE, FSTAT, GenAlEx or Arlequin file as far as its content shows (its first "
            "line: %s); --format NAME reads it as one of them")
NOLEAD = ("the file has no row of locus names, so which of the 10 columns after the label and population are "
          "loci is not known: give the columns ahead of the loci (--extracols 0 if there are none; --popflag 1, "
          "--locdata 1, --phenotype 1 or --extracols N), or --numloci N, or --mainparams FILE")
NOPLOIDY = ("the file does not show how many rows or columns an individual takes (the labels do not repeat in "
            "pairs): give --ploidy 1 for one row per haploid individual, --ploidy 2 for two rows per diploid "
            "individual, or --ploidy 2 --onerowperind 1 for both alleles of a locus side by side in one row")
NOROWS = ("the file does not show whether an individual takes 2 rows or one (the labels do not repeat in "
          "pairs): give --onerowperind 0 or --onerowperind 1")

ROWS = [
    # Real files: adegenet's cats in four formats of their own and two written
    # from them; Biopython's Genepop test files.
    ("nancycats.gen", "", 0, CATS + " | Genepop (2 digits per allele): 17 populations, 237 individuals, 9 loci, "
                                    "diploid, 50 of 2133 genotypes missing or partly missing; wrote out.nex"),
    ("nancycats.str", "", 1, "nancycats.str:1: " + NOLEAD),
    ("nancycats.str", "--extracols 1", 0, CATS + " | (2 rows per individual (labels repeat in pairs), 1 column"),
    ("nancycats.str", "--extra-cols=1 --format structure", 0, CATS),
    ("nancycats.str", "--mainparams mainparams", 0, CATS),
    ("nancycats.dat", "", 0, CATS + " | FSTAT (2 digits per allele)"),
    ("nancycats.csv", "", 0, CATS + " | GenAlEx (comma-separated, 2 columns per locus)"),
    ("nancycats.arp", "", 0, CATS + " | Arlequin (DataType microsat, genotypic)"),
    ("nancycats.gtx", "", 1, "nancycats.gtx: " + NOFORMAT % r"'9 E:\tibo\THESE\chatsNancy\nancy.gtx'"),
    (B + "c2line.gen", "", 0, "3 3 12 13.9809 28.8238"),
    (B + "c2space.gen", "", 0, "3 3 12 13.9809 28.8238"),
    (B + "c3line.gen", "", 0, "3 3 12 13.9809 28.8238 | (3 digits per allele)"),
    (B + "c3space.gen", "", 0, "3 3 12 13.9809 28.8238 | (3 digits per allele, locus names separated by blanks)"),
    (B + "haplo2.gen", "", 0, "3 3 12 - | 3 loci, haploid"),
    (B + "haplo3.gen", "", 0, "3 3 12 -"),
    (B + "big.gen", "", 0, "10 37 305 18.9345 2.08019"),
    (B + "haplo.gen", "", 0, "10 37 305 12.3937 1.68069"),
    (B + "README", "", 1, "README: " + NOFORMAT % "'The following test files are included'"),
    (B + "c2line.gen", "--format structure", 1, "c2line.gen:1: the file does not show how many rows or columns "
                                                "an individual takes (the labels do not repeat in pairs): give "
                                                "--ploidy 1 for one row per haploid individual, --ploidy 2 for two "
                                                "rows per diploid individual, or --ploidy 2 --onerowperind 1 for "
                                                "both alleles of a locus side by side in one row"),
    # STRUCTURE layouts of the cats: proven by the file, or named by an option.
    ("onerow.str", "", 1, "onerow.str:1: " + NOPLOIDY),
    ("onerow.str", "--extracols 1 --ploidy 2", 1, "onerow.str:1: " + NOROWS),
    ("onerow.str", "--extracols 1 --ploidy 2 --onerowperind 1", 0, CATS),
    ("onerow-names.str", "", 1, "onerow-names.str:1: the row of locus names names 9 loci, and 19 columns follow "
                                "the label and population, no whole number per locus: give the columns ahead of "
                                "the loci, --popflag 1, --locdata 1, --phenotype 1 or --extracols N"),
    ("onerow-names.str", "--extracols 1", 0, CATS + " | 2 columns per locus (shown by the row of locus names)"),
    ("onerow-names-noextra.str", "", 0, CATS),
    ("popflag-locdata-names.str", "", 0, CATS + " | 2 columns skipped before the loci"),
    ("popflag-locdata-names.str", "--extracols 1", 1,
     "popflag-locdata-names.str:1: the row of locus names names 9 loci, taking 9 columns of the 13 in a row, which "
     "leaves 4 ahead of them; the label, population and extra columns given make 3: check --popflag 1, "
     "--locdata 1, --phenotype 1 or --extracols N"),
    ("zero-missing.str", "--extracols 1", 1, "zero-missing.str:1: column 4 holds 0, and no gene is coded -9: is 0 "
                                             "an allele or a missing gene? Give --missing 0 if 0 marks missing "
                                             "genes, --missing -9 if 0 is an allele"),
    ("zero-missing.str", "--extracols 1 --missing 0", 0, CATS + " | missing 0)"),
    ("labels-a-b.str", "--extracols 1", 1, "labels-a-b.str:1: " + NOPLOIDY),
    ("labels-a-b.str", "--extracols 1 --ploidy 2 --onerowperind 0", 0, CATS),
    ("colony-names.str", "--extracols 0", 0, CATS),
    ("ind-pop-header.str", "", 0, CATS + " | locus names on line 1"),
    ("flag-column.str", "", 0, "17 10 237 7.73258 0.499025 | flag-column.str:2: warning: locus 1 'Flag' (column "
                               "3) holds only 0 and 1, among loci with codes of 100 and more: if it is not a "
                               "locus, give --popflag 1, --locdata 1, --phenotype 1 or --extracols N"),
    ("flag-column.str", "--popflag 1", 0, CATS),
    ("comma.str", "--extracols 1", 0, CATS),
    ("zero-allele.str", "--extracols 1", 0, "17 9 237 9.99033 0.681457 | zero-allele.str:1: warning: locus 1 "
                                            "'locus1' (column 4) has the code 0 among codes of 100 and more: if "
                                            "0 marks a missing gene, give --missing 0"),
    ("haploid.str", "", 1, "haploid.str:2: " + NOPLOIDY),
    ("haploid.str", "--ploidy 1", 0, "3 3 5 - | one row per individual, locus names on line 1, missing -9"),
    ("ragged.str", "--extracols 0", 1, "ragged.str:3: expected 4 columns (2 ahead of the loci, 2 loci), found 3"),
    ("one-row-left.str", "--extracols 0 --ploidy 2 --onerowperind 0", 1,
     "one-row-left.str:3: the last individual has 1 row: each takes 2"),
    ("two-pops.str", "--extracols 0", 1, "two-pops.str:5: population '2' differs from population '1' on the first "
                                         "row of individual 'b' (line 3)"),
    ("nancycats.str", "--mainparams bad-mainparams", 1, "bad-mainparams:1: EXTRACOLS must be a whole number from "
                                                        "0 to 100000, not 'one'"),
    ("nancycats.gen", "--popflag 1", 1, "--popflag applies to STRUCTURE files only, and 'nancycats.gen' is read as "
                                        "Genepop"),
    # Genepop layouts.
    ("names-blanks.gen", "", 0, "2 3 2 - | (2 digits per allele, locus names separated by blanks)"),
    ("name-with-blank.gen", "", 0, "2 1 2 -"),
    ("continued.gen", "", 0, "2 3 3 3.8074 6.93964"),
    ("named-pops.gen", "--pops North,South", 0, "2 1 3 3.8074 12.0198"),
    ("named-pops.gen", "--pops 3", 0, "1 1 1 -"),
    ("named-pops.gen", "--pops d,=North", 0, "2 1 3 -"),
    ("same-pop-names.gen", "", 0, "2 1 2 - | same-pop-names.gen:5: warning: population 2 'North' has the name of "
                                  "another: renamed 'North_2'"),
    ("last-names-clash.gen", "--pops pop1-pop2", 1, "--pops: 'pop1-pop2' is neither the name of a population nor "
                                                    "a number or range within 1-2"),
    ("no-title.gen", "", 1, "no-title.gen:2: expected the locus names between the title line and the first 'Pop' "
                            "line; if line 1 'loc1, loc2, loc3' names the loci, the title line is missing"),
    ("no-title-lines.gen", "", 1, "no-title-lines.gen:5: individual 'a' has 3 genotypes, but the locus names give "
                                  "2 loci; with line 1 'loc1' as locus names they would give 3: a Genepop file "
                                  "begins with a title line; if this one has none, add one"),
    ("duplicate-loci.gen", "", 0, "2 3 2 - | duplicate-loci.gen:2: warning: locus 3 'fca8' has the name of "
                                  "another: renamed 'fca8_2'"),
    ("mixed-ploidy.gen", "", 1, "mixed-ploidy.gen:2: locus 3 'mtDNA' is haploid, and other loci are diploid: a "
                                "vorn data file is haploid or diploid throughout; choose loci of one kind with "
                                "--loci"),
    ("mixed-ploidy.gen", "--loci 1-2", 0, "2 2 3 - | 3 loci, diploid (1 haploid locus)"),
    ("mixed-ploidy.gen", "--loci mtDNA", 0, "2 1 3 -"),
    ("no-pop-line.gen", "", 1, "no-pop-line.gen:4: expected a locus name or a 'Pop' line, found an individual "
                               "'ind1, 0101 0202': the 'Pop' line before the first population is missing"),
    ("empty-pop.gen", "", 1, "empty-pop.gen:5: population 2 (the 'Pop' line here) has no individuals"),
    ("wrong-width.gen", "", 1, "wrong-width.gen:6: genotype 2 '020' has 3 digits, expected 4 digits (diploid, two "
                               "alleles of 2 digits) as this locus has on line 5"),
    ("no-comma.gen", "", 1, "no-comma.gen:5: expected an individual as 'name , genotypes' or a 'Pop' line, found "
                            "'ind1 0101 0202'"),
    ("too-few.gen", "", 1, "too-few.gen:5: expected 3 genotypes (one per locus) after the name, found 2"),
    # FSTAT, GenAlEx, Arlequin variants.
    ("two-loci.dat", "", 0, "2 2 4 2.31974 3.51973 | 2 populations, 4 individuals, 2 loci, diploid, 2 of 8 genotypes"),
    ("short-row.dat", "", 1, "short-row.dat:5: expected 3 numbers (the sample, then 2 genotypes), found 2"),
    ("sample-out-of-range.dat", "", 1, "sample-out-of-range.dat:4: sample '3': expected a number from 1 to 2 (the "
                                       "samples given on line 1)"),
    ("tab.csv", "", 0, CATS + " | GenAlEx (tab-separated"),
    ("semicolon.csv", "", 0, CATS),
    ("haploid.csv", "", 0, "2 2 4 2.00003 4.89916 | one column per locus"),
    ("wrong-size.csv", "", 1, "wrong-size.csv:4: row 1 gives population 1 'P1' 2 samples, the file holds 1"),
    ("one-locus.csv", "", 1, "one-locus.csv:3: one locus, and the rows do not show how many columns it takes: give "
                             "--ploidy 1 or --ploidy 2"),
    ("one-locus.csv", "--ploidy 2", 0, "2 1 2 -"),
    ("haplotypes.arp", "", 0, "2 2 8 0.66787 0.900321 | Arlequin (DataType standard, haplotypic)"),
    ("dna.arp", "", 0, "2 4 4 1.41427 2.91444"),
    ("frequencies.arp", "", 1, "frequencies.arp:5: DataType=FREQUENCY: allele frequencies without individuals are "
                               "not read"),
    ("wrong-samplesize.arp", "", 1, "wrong-samplesize.arp:7: SampleSize of 'a' is 3, and its frequencies add up "
                                    "to 1"),
    ("words.txt", "", 1, "words.txt: " + NOFORMAT % "'Genotypes of cats, to be typed in'"),
    # Choosing loci and populations; vorn's capacities.
    ("nancycats.gen", "--loci 1-3,fca90 --pops 1-5,17", 0, "6 4 95 12.2666 2.15481 | wrote 6 populations, 95 "
                                                           "individuals, 4 loci to out.nex"),
    ("nancycats.gen", "--loci 0", 1, "--loci: '0' is neither the name of a locus nor a number or range within 1-9"),
    ("haploid.str", "--ploidy 1 --pops 3", 1, "--pops: '3' is the name of population 2 and the number of another; "
                                             "write '=3' for the name or 3-3 for the numbers"),
    ("haploid.str", "--ploidy 1 --pops =3", 0, "1 3 2 -"),
    ("many-loci.gen", "", 1, "many-loci.gen: 150 loci: at most 99 fit in a vorn data file; choose which with --loci "
                             "LIST (numbers or names, ranges such as 1-99)"),
    ("many-loci.gen", "--loci 1-99 -q", 0, "3 99 12 -"),
    ("many-pops.str", "--extracols 0 --ploidy 1", 1, "many-pops.str: 120 populations: at most 99 fit in a vorn data "
                                                     "file; choose which with --pops LIST (numbers or names, ranges "
                                                     "such as 1-99)"),
]


def estimate(datafile):
    """'npops nloci individuals theta se' as vorn prints them, '-' for no estimate."""
    folder, name = os.path.split(datafile)
    r = run([vorn], ("%s\nquit\n" % name).encode(), cwd=folder)
    out = r.stdout.decode() + r.stderr.decode()
    s = re.search(r"Data matrix has (\d+) populations, (\d+) loci, and (\d+) individuals", out)
    e = re.search(r"Estimate of theta: (\S+) standard error: (\S+)", out)
    check(s, "vorn did not read the converted file:\n" + out)
    return " ".join(s.groups() + (e.groups() if e else ("-",)))


def case(name, args, status, expected):
    def test():
        folder = tempfile.mkdtemp(prefix="cases.")
        try:
            base = os.path.basename(name)
            text = TEXTS.get(name) or (VARIANTS[name]() if name in VARIANTS else None)
            if text is None:
                shutil.copy(os.path.join(datadir, name), os.path.join(folder, base))
            else:
                with open(os.path.join(folder, base), "w") as f:
                    f.write(text)
            for extra in ("mainparams", "bad-mainparams"):
                with open(os.path.join(folder, extra), "w") as f:
                    f.write(TEXTS[extra])
            r = run([conv, base, "-o", "out.nex"] + args.split(), cwd=folder)
            err = r.stderr.decode()
            check(r.returncode == status, "exit status %d, stderr %r" % (r.returncode, err))
            if status != 0:
                check(err == "vornconvert: " + expected + "\n",
                      "stderr\n  got:      %r\n  expected: %r" % (err, "vornconvert: " + expected + "\n"))
                check(not os.path.exists(os.path.join(folder, "out.nex")), "a file was written")
                return
            counts, _, note = expected.partition(" | ")
            got = estimate(os.path.join(folder, "out.nex"))
            check(got == counts, "vorn read %r, expected %r" % (got, counts))
            check(note in err, "stderr %r lacks %r" % (err, note))
            check(("-q" in args.split()) == (err == ""), "summary line: %r" % err)
        finally:
            shutil.rmtree(folder)
    return test


def five_formats():
    """The cats in five formats: the converted files hold the same symbols,
    population by population and locus by locus."""
    folder = tempfile.mkdtemp(prefix="cases.")
    try:
        seen = {}
        for name, args in [("nancycats.gen", []), ("nancycats.str", ["--extracols", "1"]), ("nancycats.dat", []),
                           ("nancycats.csv", []), ("nancycats.arp", [])]:
            out = os.path.join(folder, name + ".nex")
            r = run([conv, os.path.join(datadir, name), "-q", "-o", out] + args)
            check(r.returncode == 0, "%s: %s" % (name, r.stderr.decode()))
            data = read_vorn(out)
            seen[name] = [[Counter(s for _, genes in members for s in genes[l] if s != "?")
                           for l in range(len(data["loci"]))] for _, members in data["pops"]]
            check([n for n, _ in data["pops"]] == [str(p) for p in range(1, 18)], "%s: population names" % name)
            check(name in ("nancycats.str", "nancycats.arp") or data["loci"] == LOCI.split(), "%s: locus names" % name)
        first = seen["nancycats.gen"]
        for name, counts in seen.items():
            check(counts == first, "%s and nancycats.gen differ" % name)
    finally:
        shutil.rmtree(folder)


main([("%s %s" % (row[0], row[1]), case(*row)) for row in ROWS] + [("the cats in five formats", five_formats)])
