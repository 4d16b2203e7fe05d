#!/usr/bin/env python3
"""VCF and BCF input, count files, windows and split runs, end to end.

usage: run.py GROUP VORNSTAT VORNCONVERT VORN REPO
GROUP: rules (hand-written records, one row each, and damaged files),
generated (a VCF drawn from the model against a count of its own), split
(parts counted apart and fitted together, windows), workflow (the same
through Snakemake), convert (vornconvert's file gives vorn vornstat's line).
bgzip, tabix and bcftools come from PATH where a group needs them.
"""
import csv
import io
import os
import random
import shutil
import subprocess
import sys
import tempfile

group, vornstat, vornconvert, vorn, repo = sys.argv[1:6]
failures = []
tmp = tempfile.mkdtemp(prefix='vorn-vcf-')


def check(ok, what):
    if not ok:
        failures.append(what)


def run(args, prog=None, stdin=None):
    r = subprocess.run([prog or vornstat] + args, capture_output=True, text=True, cwd=tmp, input=stdin)
    return r.returncode, r.stdout, r.stderr


def write(name, text, mode='w'):
    path = os.path.join(tmp, name)
    with open(path, mode) as f:
        f.write(text)
    return path


def rows(tsv):
    return list(csv.DictReader(io.StringIO(tsv), delimiter='\t'))


def countlines(path):
    """The site lines of a count file."""
    return open(path).read().splitlines()[2:]


def bgzip(path, index=True):
    subprocess.run(['bgzip', '-f', path], check=True)
    if index:
        subprocess.run(['tabix', '-f', '-p', 'vcf', path + '.gz'], check=True)
    return path + '.gz'


HEADER = '''##fileformat=VCFv4.2
##contig=<ID=1>
##contig=<ID=X>
##FILTER=<ID=q10,Description="low quality">
##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">
#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ta\tb\tc\td\te
'''
MAP = 'a\tnorth\nb\tnorth\nc\tsouth\nd\tsouth\n'  # e is not in the map


def record(chrom, pos, ref, alt, filt, *gts):
    return '\t'.join([chrom, str(pos), '.', ref, alt, '.', filt, '.', 'GT'] + list(gts)) + '\n'


# One row per rule: records, options, and the site lines of the count file
# (cells: north, south; alleles as first met over a, b, then c, d), or 'err:'
# and what standard error must hold.
RULES = [
    ('diploid, haploid, phased', [record('X', 100, 'A', 'G', 'PASS', '0/1', '1', '0|0', './.', '1/1')], [],
     ['X\t100\t1,2\t2,0']),
    ('missing calls count no gene', [record('1', 5, 'A', 'C', '.', '.', './1', '.|.', '0/0', '0')], [],
     ['1\t5\t1,0\t0,2']),
    ('multi-allelic: one allele per REF/ALT, first met', [record('1', 7, 'A', 'C,T,G', '.', '3/1', '0/3', '2/2', '1/0', '1')],
     [], ['1\t7\t2,1,1,0\t0,1,1,2']),
    ('tetraploid calls count four genes', [record('1', 8, 'A', 'C', '.', '0/0/1/1', '0/0/0/0', '1/1/1/1', './././.', '0')],
     [], ['1\t8\t6,2\t0,4']),
    ('fewer than two populations typed: skipped', [record('1', 9, 'A', 'C', 'PASS', '0/1', '1/1', './.', '.', '0/0'),
                                                   record('1', 10, 'A', 'C', 'PASS', '0/1', '1/1', '0/0', '.', '0')],
     [], ['1\t10\t1,3\t2,0']),
    ('--pass-only keeps PASS alone', [record('1', 11, 'A', 'C', 'PASS', '0/1', '0/0', '0/0', '1/1', '0'),
                                      record('1', 12, 'A', 'C', '.', '0/1', '0/0', '0/0', '1/1', '0'),
                                      record('1', 13, 'A', 'C', 'q10', '0/1', '0/0', '0/0', '1/1', '0')],
     ['--pass-only'], ['1\t11\t3,1\t2,2']),
    ('allele beyond the ALTs', [record('1', 14, 'A', 'C', '.', '0/5', '0/0', '0/0', '1/1', '0')], [],
     'err:names allele 5, and the record has 1 ALT'),
    ('map names a sample the file lacks', [record('1', 15, 'A', 'C', '.', '0/1', '0/0', '0/0', '1/1', '0')],
     ['--popmap', 'lacking.map'], "err:names 1 sample that the file does not hold: 'zz'"),
    ('no map', [record('1', 16, 'A', 'C', '.', '0/1', '0/0', '0/0', '1/1', '0')], ['--popmap', ''],
     'err:needs --popmap FILE'),
    ('regions need an index', [record('1', 17, 'A', 'C', '.', '0/1', '0/0', '0/0', '1/1', '0')], ['-r', '1'],
     'err:-r/-R read through the file'),
]


def rules():
    write('map.txt', MAP)
    write('lacking.map', MAP + 'zz\twest\n')
    for name, records, args, want in RULES:
        vcf = write('rule.vcf', HEADER + ''.join(records))
        if '--popmap' not in args:
            args = ['--popmap', 'map.txt'] + args
        if args[args.index('--popmap') + 1] == '':
            args = args[:args.index('--popmap')] + args[args.index('--popmap') + 2:]
        counts = os.path.join(tmp, 'rule.counts')
        code, out, err = run(args + ['--save-counts', counts, vcf])
        if isinstance(want, str):
            check(code == 1 and want[4:] in err and err.startswith('vornstat: '),
                  f'{name}: status {code}, expected 1 and "{want[4:]}" in\n{err}')
            continue
        check(code == 0, f'{name}: status {code}\n{err}')
        check(code != 0 or countlines(counts) == want, f'{name}: {countlines(counts) if code == 0 else ""} != {want}')
    # The summary counts what was skipped, and an unmapped sample's genes never count.
    vcf = write('rule.vcf', HEADER + ''.join(RULES[4][1] + RULES[5][1]))
    out = run(['--popmap', 'map.txt', '--pass-only', vcf])[1]
    check('4 samples in 2 populations, 1 not in the map skipped; 5 records read, 2 sites kept, 1 with fewer than '
          'two populations typed, 2 not PASS' in out, f'summary:\n{out}')

    # Regions through the index: a record belongs to the region its POS lies
    # in (the deletion at 95 reaches into 100-200 and is not read), -R the same.
    body = [record('1', p, 'ACGTACGTACG' if p == 95 else 'A', 'C', '.', '0/1', '1/1', '0/0', '0/1', '0')
            for p in (50, 95, 100, 150, 200, 201)]
    vcf = bgzip(write('regions.vcf', HEADER + ''.join(body)))
    write('regions.txt', '1\t100\t200\n')
    for args in (['-r', '1:100-200'], ['-R', 'regions.txt']):
        code, out, err = run(['--popmap', 'map.txt', '--save-counts', 'r.counts'] + args + [vcf])
        got = [l.split('\t')[1] for l in countlines(os.path.join(tmp, 'r.counts'))] if code == 0 else err
        check(got == ['100', '150', '200'], f'{args}: sites {got}')
    # Windows of 100 starting every 50: positions 1-100, 51-150, ... hold
    # the sites whose POS lies in them.
    got = [(r['name'], r['loci']) for r in rows(run(['--popmap', 'map.txt', '--tsv', '--window', '100', '--step',
                                                       '50', vcf])[1]) if r['scope'] == 'window']
    check(got == [('1:1-100', '3'), ('1:51-150', '3'), ('1:101-200', '2'), ('1:151-250', '2'), ('1:201-300', '1')],
          f'windows: {got}')
    # The same records as BCF give the same table.
    if shutil.which('bcftools'):
        subprocess.run(['bcftools', 'view', '-Ob', '-o', os.path.join(tmp, 'regions.bcf'), vcf], check=True)
        run(['--popmap', 'map.txt', '--save-counts', 'v.counts', vcf])
        run(['--popmap', 'map.txt', '--save-counts', 'b.counts', 'regions.bcf'])
        check(countlines(os.path.join(tmp, 'v.counts')) == countlines(os.path.join(tmp, 'b.counts')), 'BCF != VCF')

    # A map that is not two columns is a usage error, with its line.
    write('bad.map', 'a\tnorth\nb north extra\n')
    code, _, err = run(['--popmap', 'bad.map', vcf])
    check(code == 2 and 'bad.map:2: expected two columns' in err, f'bad map: {code} {err}')

    # Damaged files: htslib's faults are ours to report, and nothing is estimated.
    rnd = random.Random(3)
    body = [record('1', p, 'A', 'C', '.', *[rnd.choice(['0/0', '0/1', '1/1']) for _ in range(5)])
            for p in range(1, 40001)]
    good = bgzip(write('big.vcf', HEADER + ''.join(body)), index=False)
    data = open(good, 'rb').read()
    blocks, at = [], 0
    while at < len(data):
        at += int.from_bytes(data[at + 16:at + 18], 'little') + 1
        blocks.append(at)
    flipped = bytearray(data)
    for i in range(blocks[1] + 100, blocks[1] + 140):
        flipped[i] ^= 0x55
    damaged = [('truncated at a block', data[:blocks[1]], 'truncated'),
               ('truncated inside a block', data[:blocks[1] + 500], 'truncated'),
               ('a damaged block', bytes(flipped), 'damaged'),
               ('bad header', HEADER.replace('#CHROM\tPOS', '#CHROM POS').encode(), 'header is damaged')]
    for name, content, want in damaged:
        path = write('damaged.vcf.gz', content, 'wb')
        code, out, err = run(['--popmap', 'map.txt', path])
        # A damaged block may inflate to text that is no VCF line.
        check(code == 1 and err.startswith(f'vornstat: {path}: ') and out == '' and
              (want in err or want == 'damaged' and 'not a valid VCF line' in err),
              f'{name}: status {code}\n{err}')


def generate(path, chroms, sites, pops, per, rnd, theta=4.0, together=False):
    """A VCF drawn from the model: each population's allele frequencies
    Dirichlet around the pooled ones. Haploid calls on X, missing and
    phased calls, multi-allelic sites, and two samples outside the map.
    The samples stand in random order, or population by population."""
    samples = [f's{p}_{i}' for p in range(pops) for i in range(per)] + ['extra1', 'extra2']
    if not together:
        rnd.shuffle(samples)
    head = [l for l in HEADER.splitlines() if not l.startswith('#CHROM')]
    head += [f'##contig=<ID={c}>' for c in chroms]
    head.append('#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t' + '\t'.join(samples))
    lines = []
    for c in chroms:
        pos = 0
        for _ in range(sites):
            pos += rnd.randint(1, 400)
            k = rnd.choice([2, 2, 2, 3])
            pooled = [rnd.gammavariate(1, 1) for _ in range(k)]
            freqs = []
            for p in range(pops):
                g = [rnd.gammavariate(theta * x / sum(pooled), 1) + 1e-12 for x in pooled]
                freqs.append([x / sum(g) for x in g])
            cells = []
            for s in samples:
                p = int(s[1:s.index('_')]) if s.startswith('s') else 0
                draw = lambda: str(rnd.choices(range(k), freqs[p])[0])
                ploidy = 1 if c == 'X' and len(s) % 2 else 2
                if rnd.random() < 0.05:
                    cells.append('.' if ploidy == 1 else rnd.choice(['./.', '.|.']))
                elif ploidy == 1:
                    cells.append(draw())
                else:
                    cells.append(draw() + rnd.choice('/|') + (draw() if rnd.random() > 0.02 else '.'))
            lines.append(record(c, pos, 'A', ','.join('CGT'[:k - 1]), 'PASS', *cells))
    open(path, 'w').write('\n'.join(head) + '\n' + ''.join(lines))
    return {s: f'p{s[1:s.index("_")]}' for s in samples if s.startswith('s')}


def independent(vcf, popmap, pops):
    """The count file's site lines, worked out here from the VCF text."""
    out = []
    order = None
    for line in open(vcf):
        if line.startswith('##'):
            continue
        f = line.rstrip('\n').split('\t')
        if line.startswith('#'):
            names = f[9:]
            order = sorted((pops.index(popmap[s]), i) for i, s in enumerate(names) if s in popmap)
            continue
        alleles = []
        n = {}
        for p, i in order:
            for g in f[9 + i].replace('|', '/').split('/'):
                if g != '.':
                    if g not in alleles:
                        alleles.append(g)
                    n[(p, g)] = n.get((p, g), 0) + 1
        if len({p for p, g in n}) < 2:
            continue
        out.append('\t'.join([f[0], f[1]] + [','.join(str(n.get((p, a), 0)) for a in alleles)
                                             for p in range(len(pops))]))
    return out


def makegenerated(name, chroms, sites, seed, per=10, together=False, pops=4):
    rnd = random.Random(seed)
    vcf = os.path.join(tmp, name + '.vcf')
    popmap = generate(vcf, chroms, sites, pops, per, rnd, together=together)
    # The map in an order of its own; populations numbered as first met there.
    items = sorted(popmap.items(), key=lambda kv: (sum(map(ord, kv[0])) % 7, kv[0]))
    write(name + '.map', ''.join(f'{s}\t{p}\n' for s, p in items))
    pops = []
    for _, p in items:
        if p not in pops:
            pops.append(p)
    return vcf, popmap, pops


def generated():
    vcf, popmap, pops = makegenerated('gen', ['1', 'X'], 150, 11)
    code, out, err = run(['--popmap', 'gen.map', '--save-counts', 'gen.counts', vcf])
    check(code == 0, f'generated: {err}')
    mine = countlines(os.path.join(tmp, 'gen.counts'))
    theirs = independent(vcf, popmap, pops)
    check(mine == theirs, f'generated: {sum(a != b for a, b in zip(mine, theirs))} of {len(theirs)} sites differ')
    check(open(os.path.join(tmp, 'gen.counts')).read().splitlines()[1] == 'chrom\tpos\t' + '\t'.join(pops),
          'generated: populations')
    # The count file gives the VCF's estimates, and --per-locus names each site.
    a = rows(run(['--popmap', 'gen.map', '--tsv', '--per-locus', vcf])[1])
    b = rows(run(['--tsv', '--per-locus', 'gen.counts'])[1])
    check([dict(r, file='') for r in a] == [dict(r, file='') for r in b], 'generated: count file != VCF')
    check([r['name'] for r in a[1:]] == [':'.join(l.split('\t')[:2]) for l in theirs], 'generated: site names')
    check(a[0]['theta'] != '', 'generated: no estimate')
    # Populations whose samples stand side by side in the file (their calls
    # are counted 16 bytes at a time), with a run of calls that ends in a
    # part of 16 bytes and some bytes more.
    # Populations of more than 2040 samples fill a lane's count of 255.
    for name, sites, per, pops in [('side', 150, 37, 4), ('large', 12, 2300, 2)]:
        vcf, popmap, pops = makegenerated(name, ['1', 'X'], sites, 13, per=per, together=True, pops=pops)
        code, out, err = run(['--popmap', name + '.map', '--save-counts', name + '.counts', vcf])
        mine, theirs = countlines(os.path.join(tmp, name + '.counts')), independent(vcf, popmap, pops)
        check(code == 0 and mine == theirs,
              f'{name}: {err} {sum(a != b for a, b in zip(mine, theirs))} of {len(theirs)} sites differ')


def split():
    vcf, _, _ = makegenerated('split', ['1', '2', '3'], 120, 12)
    gz = bgzip(vcf)
    one = rows(run(['--popmap', 'split.map', '--tsv', '--window', '5000', '--step', '2500', gz])[1])
    parts = []
    for c in ['1', '2:1-12000', '2:12001-', '3']:
        parts.append(f'part{len(parts)}.counts')
        code, _, err = run(['--popmap', 'split.map', '-r', c, '--save-counts', parts[-1], gz])
        check(code == 0, f'split {c}: {err}')
    code, out, err = run(['--tsv', '--window', '5000', '--step', '2500'] + parts)
    whole = rows(out)
    strip = lambda rs: [dict(r, file='') for r in rs]
    check(code == 0 and strip(whole) == strip(one), f'split: the parts together differ from one run\n{err}')
    check(one[0]['theta'] != '' and sum(r['scope'] == 'window' for r in one) > 10, f'split: too few results {one}')
    # A window gives what a run over its region gives.
    w = next(r for r in one if r['scope'] == 'window' and r['name'].startswith('2:') and int(r['loci']) > 5)
    alone = rows(run(['--popmap', 'split.map', '--tsv', '-r', w['name'], gz])[1])[0]
    check((alone['theta'], alone['se'], alone['loci']) == (w['theta'], w['se'], w['loci']),
          f'window {w["name"]}: {w["theta"]} vs a run of its region {alone["theta"]}')
    # What would count a site twice, or mix tables, is refused.
    code, _, err = run(['--tsv', parts[0], parts[1], parts[0]])
    check(code == 1 and 'would count twice' in err, f'a part twice: {code} {err}')
    write('other.map', 'zz\tx\n' + open(os.path.join(tmp, 'split.map')).read())
    write('onepop.map', ''.join(l.split('\t')[0] + '\tall\n' for l in open(os.path.join(tmp, 'split.map'))))
    run(['--popmap', 'onepop.map', '-r', '3', '--save-counts', 'other.counts', gz])
    code, _, err = run(['--tsv', parts[0], 'other.counts'])
    check(code == 1 and 'other.counts' in err and 'same population map' in err, f'other populations: {err}')
    # A cell holds at most 2^31 - 1 genes: one more is refused, not wrapped.
    lines = open(os.path.join(tmp, parts[0])).read().splitlines(keepends=True)
    cells = lines[2].split('\t')
    # A position written with a leading zero names the site as the VCF does.
    padded = lines[2].split('\t')
    write('padded.counts', ''.join(lines[:2]) + '\t'.join([padded[0], '0' + padded[1]] + padded[2:]))
    got = [r['name'] for r in rows(run(['--tsv', '--per-locus', 'padded.counts'])[1]) if r['scope'] == 'locus']
    check(got == [padded[0] + ':' + padded[1]], f'a padded position: {got}')
    # Windows over absurd positions are refused, not counted out one by one.
    far = lines[3].split('\t')
    write('far.counts', ''.join(lines[:3]) + '\t'.join([far[0], '9000000000000000000'] + far[2:]))
    code, _, err = run(['--tsv', '--window', '1000', 'far.counts'])
    check(code == 1 and 'windows over these positions' in err, f'far positions: {code} {err}')
    cells[2] = '2147483648' + cells[2][cells[2].index(','):]
    write('big.counts', ''.join(lines[:2]) + '\t'.join(cells) + ''.join(lines[3:]))
    code, _, err = run(['--tsv', 'big.counts'])
    check(code == 1 and 'a count above 2147483647' in err, f'a count of 2^31: {code} {err}')


def workflow():
    vcf, _, _ = makegenerated('wf', ['1', '2', '3'], 100, 13)
    gz = bgzip(vcf)
    one = rows(run(['--popmap', 'wf.map', '--tsv', gz])[1])
    r = subprocess.run(['snakemake', '-q', '-s', os.path.join(repo, 'workflow', 'Snakefile'), '--cores', '2',
                        '--directory', tmp, '--config', f'vcf={gz}', 'popmap=wf.map', f'vornstat={vornstat}'],
                       capture_output=True, text=True)
    check(r.returncode == 0, f'snakemake: {r.stderr[-2000:]}')
    if r.returncode == 0:
        whole = rows(open(os.path.join(tmp, 'vorn-out', 'whole.tsv')).read())
        check([dict(x, file='') for x in whole] == [dict(x, file='') for x in one],
              f'workflow: {whole[0]} != {one[0]}')


def convert():
    vcf, _, _ = makegenerated('conv', ['1'], 99, 14)
    code, _, err = run(['--popmap', 'conv.map', '-q', '-o', 'conv.nex', vcf], prog=vornconvert)
    check(code == 0, f'vornconvert: {err}')
    r = subprocess.run([vorn], input='conv.nex\nquit\n', capture_output=True, text=True, cwd=tmp)
    line = [l for l in r.stdout.splitlines() if l.startswith('Estimate of theta:')]
    row = rows(run(['--popmap', 'conv.map', '--tsv', vcf])[1])[0]
    mine = 'Estimate of theta: %g standard error: %g' % (float(row['theta']), float(row['se']))
    check(line == [mine], f'vorn says {line}, vornstat {mine}')


{'rules': rules, 'generated': generated, 'split': split, 'workflow': workflow, 'convert': convert}[group]()
shutil.rmtree(tmp)
if failures:
    sys.exit('\n'.join(failures))
print(f'vcf {group}: all pass')
