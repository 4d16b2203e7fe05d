#!/usr/bin/env python3
"""vornstat end to end: the cases of cases.txt, then the properties of its
machine-readable output that scripts rely on.

usage: run.py VORNSTAT VORN REPO
"""
import csv
import io
import json
import os
import subprocess
import sys
import tempfile

vornstat, vorn, repo = sys.argv[1:4]
failures = []

COLUMNS = ('file scope name name2 populations loci genes theta se fst profile_low profile_high '
           'wald_low wald_high boot_low boot_high lr p note').split()

ONEPOP = """#nexus
begin vorndata;
dimensions npops=1 nloci=2;
format haploid missing=?;
locusallelelabels 1 a, 2 b;
matrix
only: i1 AA i2 BA i3 AA;
end;
"""
BAD = """#nexus
begin vorndata;
dimensions npops=1 nloci=1;
format diploid missing=?;
"""


def run(args):
    r = subprocess.run([vornstat] + args, capture_output=True, text=True, cwd=repo)
    return r.returncode, r.stdout, r.stderr


def check(ok, what):
    if not ok:
        failures.append(what)


with tempfile.TemporaryDirectory() as tmp:
    open(os.path.join(tmp, 'onepop.nex'), 'w').write(ONEPOP)
    open(os.path.join(tmp, 'bad.nex'), 'w').write(BAD)

    for line in open(os.path.join(os.path.dirname(__file__), 'cases.txt')):
        if not line.strip() or line.startswith('#'):
            continue
        name, args, status, text = [f.strip() for f in line.split('|')]
        args = args.replace('{tmp}', tmp).split()
        text = text.replace('{tmp}', tmp)
        code, out, err = run(args)
        where, want = (err, text[4:]) if text.startswith('err:') else (out, text)
        check(code == int(status), f'{name}: status {code}, expected {status}\n{out}{err}')
        check(want in where, f'{name}: expected "{want}" in\n{where}')

    # Every example: the global theta and standard error are vorn's line.
    for ex in sorted(f for f in os.listdir(os.path.join(repo, 'examples')) if f.endswith('.nex')):
        path = os.path.join('examples', ex)
        r = subprocess.run([vorn], input=f'{path}\nquit\n', capture_output=True, text=True, cwd=repo)
        line = [l for l in r.stdout.splitlines() if l.startswith('Estimate of theta:')]
        _, out, _ = run(['--tsv', path])
        row = list(csv.DictReader(io.StringIO(out), delimiter='\t'))[0]
        if line:
            mine = 'Estimate of theta: %g standard error: %g' % (float(row['theta']), float(row['se']))
            check(mine == line[0], f'{ex}: vornstat gives "{mine}", vorn "{line[0]}"')
        else:
            check(row['theta'] == '', f'{ex}: vorn has no estimate, vornstat {row["theta"]}')

    # The same choice of loci and populations: vornconvert's file gives vorn
    # the line that vornstat prints for the original.
    vornconvert = os.path.join(os.path.dirname(vorn), 'vornconvert')
    cats = 'tests/convert/data/nancycats.gen'
    subprocess.run([vornconvert, '-q', '--loci', '2-5,fca90', '--pops', '3-9,12', '-o', f'{tmp}/sub.nex', cats],
                   cwd=repo, check=True)
    r = subprocess.run([vorn], input=f'{tmp}/sub.nex\nquit\n', capture_output=True, text=True, cwd=repo)
    line = [l for l in r.stdout.splitlines() if l.startswith('Estimate of theta:')]
    row = list(csv.DictReader(io.StringIO(run(['--tsv', '--loci', '2-5,fca90', '--pops', '3-9,12', cats])[1]),
                              delimiter='\t'))[0]
    mine = 'Estimate of theta: %g standard error: %g' % (float(row['theta']), float(row['se']))
    check(line == [mine], f'--loci/--pops: vornstat "{mine}", vorn {line}')

    # TSV: one header, fixed columns, every row as wide as the header.
    code, out, _ = run(['--tsv', '--per-locus', '--per-pop', '--pairwise', '--bootstrap', '20',
                        'examples/brown-trout.nex', 'examples/north-south-haploid.nex'])
    lines = out.splitlines()
    check(lines[0].split('\t') == COLUMNS, f'TSV header: {lines[0]}')
    check(sum(l.startswith('file\t') for l in lines) == 1, 'TSV: more than one header')
    check(all(len(l.split('\t')) == len(COLUMNS) for l in lines), 'TSV: a row of another width')
    rows = list(csv.DictReader(io.StringIO(out), delimiter='\t'))
    check(len(rows) == 1 + 8 + 6 + 15 + 1 + 3 + 2 + 1, f'TSV: {len(rows)} rows')
    check({r['scope'] for r in rows} == {'all', 'locus', 'pop', 'pair'}, 'TSV: scopes')

    # JSON: parses, and holds every field the manual page lists.
    code, out, _ = run(['--json', '--per-locus', '--bootstrap', '10', 'examples/brown-trout.nex',
                        f'{tmp}/none.nex'])
    check(code == 1, f'JSON with a missing file: status {code}')
    doc = json.loads(out)
    for key in ('program', 'version', 'options', 'inputs', 'errors'):
        check(key in doc, f'JSON: no {key}')
    check(doc['options']['seed'] == 1 and doc['options']['bootstrap'] == 10, 'JSON: options')
    check(doc['errors'][0]['file'].endswith('none.nex'), 'JSON: errors')
    inp = doc['inputs'][0]
    for key in ('file', 'sha256', 'format', 'layout', 'populations', 'loci', 'warnings', 'results'):
        check(key in inp, f'JSON: input has no {key}')
    import hashlib
    check(inp['sha256'] == hashlib.sha256(open(os.path.join(repo, 'examples/brown-trout.nex'), 'rb').read())
          .hexdigest(), 'JSON: sha256')
    for key in ('scope', 'name', 'name2', 'populations', 'loci', 'genes', 'theta', 'se', 'fst', 'profile', 'wald',
                'bootstrap', 'fst_profile', 'fst_wald', 'fst_bootstrap', 'lr', 'p', 'note'):
        check(key in inp['results'][0], f'JSON: result has no {key}')
    check(abs(inp['results'][0]['theta'] - 9.16898) < 1e-5, 'JSON: theta')

    # The bootstrap: the same seed gives the same bytes, another seed not.
    a = run(['--bootstrap', '30', '--seed', '5', 'examples/beech-fungus-haploid.nex'])[1]
    b = run(['--bootstrap', '30', '--seed', '5', 'examples/beech-fungus-haploid.nex'])[1]
    c = run(['--bootstrap', '30', '--seed', '6', 'examples/beech-fungus-haploid.nex'])[1]
    check(a == b and a != c, 'bootstrap: seeds')

    # The matrix: symmetric, 0 on the diagonal, as many rows as populations.
    out = run(['--matrix', 'examples/brown-trout.nex'])[1]
    m = [l.split('\t') for l in out.splitlines()]
    check(len(m) == 7 and all(len(r) == 7 for r in m), 'matrix: shape')
    check(all(m[i][i] == '0' and m[i][j] == m[j][i] for i in range(1, 7) for j in range(1, 7)), 'matrix: symmetry')

if failures:
    sys.exit('\n'.join(failures))
print('all vornstat cases pass')
