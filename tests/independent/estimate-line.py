#!/usr/bin/env python3
"""Works out the estimate line of a data file independently of vorn's code
and compares it with what vorn prints.

The counts come from a parser of its own. The score and the information are
written with digamma and trigamma functions in 50-digit arithmetic:
  sum over i < n of 1/(theta + i/f) = f (psi(theta f + n) - psi(theta f)),
and the bisection is followed on its float grid, from the end where the
score is negative, halving the step until it is shorter than 0.0001. The
frequencies are rounded to float as vorn's tables hold them.

usage: estimate-line.py VORN DATAFILE
"""
import re
import struct
import subprocess
import sys

from mpmath import digamma, mp, mpf, psi, sqrt

mp.dps = 50


def f32(x):
    return struct.unpack('f', struct.pack('f', float(x)))[0]


def counts(path):
    """Allele counts per population and locus: a list of lists of dicts."""
    words = open(path, 'rb').read().decode('latin1').split()
    start = words.index('matrix') + 1
    header = ' '.join(words[:start])
    diploid = ' diploid ' in header
    nloci = int(re.search(r'nloci=(\d+)', header).group(1))
    found = re.search(r'missing=(\S)', header)
    missing = found.group(1) if found else None
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
    return pops, nloci


def frequencies(pops, nloci):
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


def main():
    vorn, path = sys.argv[1], sys.argv[2]
    pops, nloci = counts(path)
    freq = frequencies(pops, nloci)

    def score(theta):
        t, s = mpf(theta), mpf(0)
        for pop in pops:
            for l in range(nloci):
                a = sum(freq[l][c] * (digamma(t * freq[l][c] + k) - digamma(t * freq[l][c]))
                        for c, k in pop[l].items())
                n = sum(pop[l].values())
                s += a - (digamma(t + n) - digamma(t))
        return s

    def information(theta):
        t, s = mpf(theta), mpf(0)
        for pop in pops:
            for l in range(nloci):
                a = sum(freq[l][c] ** 2 * (psi(1, t * freq[l][c]) - psi(1, t * freq[l][c] + k))
                        for c, k in pop[l].items())
                n = sum(pop[l].values())
                s += a - (psi(1, t) - psi(1, t + n))
        return s

    lo, hi = f32(0.00001), f32(10000.0)
    flo, fhi = score(lo), score(hi)
    if flo * fhi >= 0:
        expected = 'Estimate of theta is not within interval 0.00001 to 10000'
        where = 'stderr'
    else:
        rtb, dx = (mpf(lo), f32(hi - lo)) if flo < 0 else (mpf(hi), f32(lo - hi))
        for _ in range(40):
            dx = f32(dx * 0.5)
            trial = rtb + mpf(dx)
            value = score(f32(trial))
            # A score this close to 0 could take either sign once rounded.
            if abs(value) < mpf(10) ** -9:
                sys.exit(f'{path}: the score at {f32(trial)} is too close to 0 to decide')
            if value <= 0:
                rtb = trial
            if abs(dx) < f32(0.0001):
                break
        theta = f32(rtb)
        info = information(theta)
        se = '%g' % float(sqrt(1 / info)) if info > 0 else 'nan'
        expected = 'Estimate of theta: %g standard error: %s' % (theta, se)
        where = 'stdout'

    run = subprocess.run([vorn], input=f'{path}\nquit\n', capture_output=True, text=True,
                         errors='replace')
    printed = getattr(run, where)
    if expected not in printed.splitlines():
        sys.exit(f'{path}: expected the line "{expected}" on {where}; vorn printed:\n{run.stdout}\n{run.stderr}')
    print(f'{path}: {expected}')


main()
