#!/usr/bin/env python3
"""vornstat --plot on every shipped example, and plot_test's constructed
plots: each SVG self-contained and rendered by rsvg-convert without a word on
standard error; then positions drawn in the plots of nancycats against the
numbers of vornstat --tsv on the same file.

usage: render.py VORNSTAT PLOT_TEST REPO   (exit 77: skipped, no rsvg-convert)
"""
import csv
import glob
import io
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile

vornstat, plot_test, repo = sys.argv[1:4]
if not shutil.which('rsvg-convert'):
    print('rsvg-convert not found (apt-get install librsvg2-bin): the plots are not rendered')
    sys.exit(77)

failures = []
check = lambda ok, what: ok or failures.append(what)
inputs = sorted(glob.glob(os.path.join(repo, 'examples', '*.nex'))) + \
    [os.path.join(repo, 'tests', 'convert', 'data', 'nancycats.gen')]

with tempfile.TemporaryDirectory() as tmp:
    out = os.path.join(tmp, 'plots')
    for f in inputs:
        r = subprocess.run([vornstat, '--per-locus', '--pairwise', '--plot', out, f], capture_output=True, text=True)
        check(r.returncode == 0, f'{f}: status {r.returncode}: {r.stderr}')
        stem = os.path.splitext(os.path.basename(f))[0]
        for kind in ('profile', 'loci', 'pairs'):
            check(os.path.exists(os.path.join(out, f'{stem}-{kind}.svg')), f'{stem}-{kind}.svg not written')
    r = subprocess.run([plot_test, out], capture_output=True, text=True)
    check(r.returncode == 0, f'plot_test: {r.stdout}{r.stderr}')
    # The scan of a generated genome, from vornstat's own windows.
    windows = '--window' in subprocess.run([vornstat, '--help'], capture_output=True, text=True).stdout
    if windows:
        genome = os.path.join(tmp, 'genome.counts')
        with open(genome, 'w') as g:
            subprocess.run([sys.executable, os.path.join(os.path.dirname(__file__), 'genome.py')], stdout=g, check=True)
        r = subprocess.run([vornstat, '--window', '500000', '--plot', out, genome], capture_output=True, text=True)
        check(r.returncode == 0 and os.path.exists(os.path.join(out, 'genome-scan.svg')), f'genome: {r.stderr}')

    svgs = sorted(glob.glob(os.path.join(out, '*.svg')))
    check(len(svgs) == 3 * len(inputs) + 2 + 2 * windows, f'{len(svgs)} plots')
    for svg in svgs:
        text = open(svg, encoding='utf-8').read()
        # Nothing to run or fetch: references only to the file's own parts.
        for bad in ('<script', 'href', '@import', '@font-face', 'url(http', 'url(/', 'on' + 'load'):
            check(bad not in text.lower(), f'{svg}: {bad}')
        check(all(u.startswith('url(#') for u in re.findall(r'url\([^)]*\)', text)), f'{svg}: an outside url()')
        r = subprocess.run(['rsvg-convert', '-o', svg[:-4] + '.png', svg], capture_output=True, text=True)
        check(r.returncode == 0 and not r.stderr, f'{svg}: rsvg-convert: {r.returncode} {r.stderr}')
        check(os.path.getsize(svg[:-4] + '.png') > 1000, f'{svg}: empty picture')

    # A folder that cannot be made: the results still printed, then status 1.
    r = subprocess.run([vornstat, '--plot', '/dev/null/plots', inputs[0]], capture_output=True, text=True)
    check(r.returncode == 1 and 'could not make the folder' in r.stderr and 'theta' in r.stdout,
          f'unwritable --plot folder: status {r.returncode}: {r.stderr}')

    # Drawn positions against the TSV of the same analyses.
    cats = inputs[-1]
    tsv = subprocess.run([vornstat, '--tsv', '--per-locus', '--pairwise', cats], capture_output=True, text=True).stdout
    rows = list(csv.DictReader(io.StringIO(tsv), delimiter='\t'))

    def mapping(attr):
        kind, v0, v1, p0, p1 = attr.split()
        f = math.log10 if kind == 'log10' else (lambda v: v)
        return lambda v: float(p0) + (f(v) - f(float(v0))) / (f(float(v1)) - f(float(v0))) * (float(p1) - float(p0))

    loci = open(os.path.join(out, 'nancycats-loci.svg'), encoding='utf-8').read()
    at = mapping(re.search(r'<g data-x="([^"]+)"', loci).group(1))
    drawn = {m[1]: float(m[0]) for m in re.findall(r'<circle cx="([^"]+)"[^>]* data-locus="([^"]+)"', loci)}
    for r in rows:
        if r['scope'] == 'locus':
            check(abs(drawn.get(r['name'], -1) - at(float(r['fst']))) <= 0.006,
                  f'locus {r["name"]}: drawn at {drawn.get(r["name"])}, F_ST {r["fst"]} maps to {at(float(r["fst"]))}')
    check(len(drawn) == 9, f'{len(drawn)} loci drawn')

    profile = open(os.path.join(out, 'nancycats-profile.svg'), encoding='utf-8').read()
    at = mapping(re.search(r'<g clip-path="url\(#area\)" data-x="([^"]+)"', profile).group(1))
    x = float(re.search(r'<line x1="([^"]+)"[^>]* data-theta=', profile).group(1))
    theta = float(next(r['theta'] for r in rows if r['scope'] == 'all'))
    check(abs(x - at(theta)) <= 0.006, f'estimate drawn at {x}, theta {theta} maps to {at(theta)}')

    pairs = open(os.path.join(out, 'nancycats-pairs.svg'), encoding='utf-8').read()
    cells = {(m[1], m[2]): m[0] for m in re.findall(r'data-fst="([^"]+)"><title>(.*?) and (.*?): F', pairs)}
    for r in rows:
        if r['scope'] == 'pair':  # theta above 10000 is drawn as F_ST 0, as --matrix writes it
            want = r['fst'] or ('0' if 'above 10000' in r['note'] else None)
            check(cells.get((r['name'], r['name2'])) == want == cells.get((r['name2'], r['name'])),
                  f'pair {r["name"]} {r["name2"]}: {cells.get((r["name"], r["name2"]))} against {want}')

for f in failures:
    print('FAIL', f)
print(f'plot.render: {len(failures)} failures' if failures else 'plot.render: every plot rendered, positions agree')
sys.exit(1 if failures else 0)
