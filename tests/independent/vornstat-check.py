#!/usr/bin/env python3
"""Checks vornstat's numbers against a calculation of its own in 50-digit
arithmetic, on a vorn data file (and, when given, the same data in another
format, which vornstat must read to the same rows).

- The log-likelihood, written with log-gamma functions, drops from the
  estimate to each end of the profile interval by chi-square(1, 0.95)/2, to
  1e-6; a step of 1e-6 of theta outwards crosses that drop.
- LR = 2 [l(estimate) - sum n_k log f_k], and p = P(chi-square(1) > LR) / 2.
- Each locus's estimate follows the bisection on its float grid, with the
  score written with digamma functions.

usage: vornstat-check.py VORNSTAT DATAFILE [SAMEDATA]
"""
import csv
import io
import os
import subprocess
import sys

from mpmath import digamma, erfc, log, loggamma, mpf, sqrt

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vorndata import counts, f32, frequencies  # noqa: E402

DROP = mpf('3.8414588206941236') / 2  # chi-square(1) at 0.95, halved
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def loglik(theta, pops, loci, freq):
    t, s = mpf(theta), mpf(0)
    for pop in pops:
        for l in loci:
            n = sum(pop[l].values())
            s += sum(loggamma(t * freq[l][c] + k) - loggamma(t * freq[l][c]) for c, k in pop[l].items() if k)
            s -= loggamma(t + n) - loggamma(t)
    return s


def logliminf(pops, loci, freq):
    return sum(k * log(freq[l][c]) for pop in pops for l in loci for c, k in pop[l].items() if k)


def score(theta, pops, loci, freq):
    t, s = mpf(theta), mpf(0)
    for pop in pops:
        for l in loci:
            n = sum(pop[l].values())
            s += sum(freq[l][c] * (digamma(t * freq[l][c] + k) - digamma(t * freq[l][c]))
                     for c, k in pop[l].items() if k)
            s -= digamma(t + n) - digamma(t)
    return s


def bisect(pops, loci, freq):
    """The float estimate on vorn's grid, or None without a sign change."""
    lo, hi = f32(0.00001), f32(10000.0)
    flo, fhi = score(lo, pops, loci, freq), score(hi, pops, loci, freq)
    if flo * fhi >= 0:
        return None
    rtb, dx = (mpf(lo), f32(hi - lo)) if flo < 0 else (mpf(hi), f32(lo - hi))
    for _ in range(40):
        dx = f32(dx * 0.5)
        trial = rtb + mpf(dx)
        if score(f32(trial), pops, loci, freq) <= 0:
            rtb = trial
        if abs(dx) < f32(0.0001):
            break
    return f32(rtb)


def rows(vornstat, path):
    run = subprocess.run([vornstat, '--tsv', '--per-locus', path], capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f'vornstat {path}: status {run.returncode}\n{run.stderr}')
    return list(csv.DictReader(io.StringIO(run.stdout), delimiter='\t'))


def main():
    vornstat, path = sys.argv[1], sys.argv[2]
    pops, nloci, labels = counts(path)
    freq = frequencies(pops, nloci)
    table = rows(vornstat, path)
    if len(sys.argv) > 3:
        other = rows(vornstat, sys.argv[3])
        strip = lambda rs: [{k: v for k, v in r.items() if k != 'file'} for r in rs]  # noqa: E731
        check(strip(table) == strip(other), f'{sys.argv[3]} and {path} give different rows')

    for r in table:
        loci = range(nloci) if r['scope'] == 'all' else [labels.index(r['name'])]
        where = f"{r['scope']} {r['name']}"
        if r['scope'] == 'locus':
            expected = bisect(pops, loci, freq)
            got = f32(float(r['theta'])) if r['theta'] else None
            check(expected == got, f'{where}: theta {got}, expected {expected}')
        if not r['theta']:
            continue
        theta = mpf(r['theta'])
        top = loglik(theta, pops, loci, freq)
        for end in ('profile_low', 'profile_high'):
            if r[end] in ('0', 'inf'):
                continue
            x = mpf(r[end])
            drop = top - loglik(x, pops, loci, freq)
            check(abs(drop - DROP) < mpf('1e-6'), f'{where}: the log-likelihood drops {drop} at {end} {x}')
            outward = x * (1 + mpf('1e-6')) if end == 'profile_high' else x * (1 - mpf('1e-6'))
            check(top - loglik(outward, pops, loci, freq) > DROP, f'{where}: {end} {x} not within 1e-6')
        lr = 2 * (top - logliminf(pops, loci, freq))
        check(abs(lr - mpf(r['lr'])) <= mpf('1e-6') * max(1, abs(lr)), f"{where}: LR {r['lr']}, expected {lr}")
        p = erfc(sqrt(lr / 2)) / 2 if lr > 0 else mpf(1)
        check(abs(p - mpf(r['p'])) <= mpf('1e-6') * p, f"{where}: p {r['p']}, expected {p}")
    if failures:
        sys.exit(f'{path}:\n  ' + '\n  '.join(failures))
    print(f'{path}: {len(table)} rows agree')


main()
