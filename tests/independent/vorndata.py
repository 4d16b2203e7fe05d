"""A reader of vorn data files of its own, for the independent checks: the
allele counts per population and locus, and the pooled frequencies rounded
to float as the programs hold them. 50-digit arithmetic (mpmath)."""
import re
import struct

from mpmath import mp, mpf

mp.dps = 50


def f32(x):
    return struct.unpack('f', struct.pack('f', float(x)))[0]


def counts(path):
    """(pops, nloci, labels): pops is a list of lists of dicts symbol -> count."""
    words = open(path, 'rb').read().decode('latin1').split()
    start = words.index('matrix') + 1
    header = ' '.join(words[:start])
    diploid = ' diploid ' in header
    nloci = int(re.search(r'nloci=(\d+)', header).group(1))
    found = re.search(r'missing=(\S)', header)
    missing = found.group(1) if found else None
    labels = words[words.index('locusallelelabels') + 1:start - 1][1::2]
    labels = [w[:-1] for w in labels]
    toks = words[start:]
    pops, pop, j = [], None, 0
    while j < len(toks):
        if pop is None:
            while not toks[j].endswith(':'):
                j += 1
            j += 1
            pop = [dict() for _ in range(nloci)]
            pops.append(pop)
        j += 1  # the individual's name
        genes = []
        if diploid:
            for w in toks[j:j + nloci]:
                genes.append((w[0], w[2]))
            last = toks[j + nloci - 1][-1]
            j += nloci
        else:
            chars = ''
            while len(chars) < nloci - 1:
                need = nloci - 1 - len(chars)
                chars += toks[j][:need]
                toks[j] = toks[j][need:]
                if not toks[j]:
                    j += 1
            chars += toks[j][0]
            last = toks[j][-1]
            j += 1
            genes = [(c,) for c in chars]
        for l, locus in enumerate(genes):
            for c in locus:
                if c != missing:
                    pop[l][c] = pop[l].get(c, 0) + 1
        if last in ',;':
            pop = None
            if last == ';':
                break
    return pops, nloci, labels


def frequencies(pops, nloci):
    """Pooled shares per locus, summed in float over populations in order."""
    freq = []
    for l in range(nloci):
        symbols = []
        for pop in pops:
            symbols += [c for c in pop[l] if c not in symbols]
        pooled = {}
        for c in symbols:
            s = 0.0
            for pop in pops:
                s = f32(s + pop[l].get(c, 0))
            pooled[c] = s
        total = sum(mpf(v) for v in pooled.values())
        freq.append({c: mpf(f32(mpf(v) / total)) for c, v in pooled.items()})
    return freq
