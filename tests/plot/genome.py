#!/usr/bin/env python3
"""A generated genome as a vornstat count file, for the genome-scan plot:
four chromosomes (12, 9, 7 and 5 Mb) with a biallelic site every 20 kb on
average, eight populations of 20 diploid individuals. Each site's pooled
frequency is uniform on 0.05..0.95 and each population's frequency is drawn
from a beta distribution around it with theta 20 (F_ST about 0.048), and
theta 3 (F_ST 0.25) on chr2 from 3 to 4 Mb, a stretch that differs more.

usage: genome.py [SEED] > genome.counts
"""
import random
import sys

rng = random.Random(int(sys.argv[1]) if len(sys.argv) > 1 else 1)
pops = [f'pop{i + 1}' for i in range(8)]
genes = 40
print('#vorncounts 1 filter=all')
print('\t'.join(['chrom', 'pos'] + pops))
for chrom, mb in (('chr1', 12), ('chr2', 9), ('chr3', 7), ('chr4', 5)):
    pos = 0
    while True:
        pos += rng.randint(1, 40000)
        if pos > mb * 1000000:
            break
        theta = 3 if chrom == 'chr2' and 3000000 <= pos < 4000000 else 20
        p = rng.uniform(0.05, 0.95)
        cells = []
        for _ in pops:
            q = rng.betavariate(theta * p, theta * (1 - p))
            k = sum(rng.random() < q for _ in range(genes))
            cells.append(f'{k},{genes - k}')
        print('\t'.join([chrom, str(pos)] + cells))
