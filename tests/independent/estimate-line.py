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
import os
import subprocess
import sys

from mpmath import digamma, mpf, psi, sqrt

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vorndata import counts, f32, frequencies  # noqa: E402


def main():
    vorn, path = sys.argv[1], sys.argv[2]
    pops, nloci, _ = counts(path)
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
