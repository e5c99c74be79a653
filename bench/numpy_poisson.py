#!/usr/bin/env python3
"""numpy's Generator.poisson on the frames of bench/dummy_noise_bench.cpp: 65536 pixels of mean 10, of
mean 1000, and of whole means spread over 500-1500. Prints "<case> <nanoseconds per frame>" per line, the
best of several timed runs; prints nothing when numpy is not installed."""
import sys
import time

try:
    import numpy as np
except ImportError:
    sys.exit(0)

PIXELS = 65536
rng = np.random.default_rng(2000)
spread = (500 + (np.arange(PIXELS, dtype=np.int64) * 7919) % 1001).astype(np.float64)
cases = [
    ("mean10", lambda: rng.poisson(10.0, PIXELS)),
    ("mean1000", lambda: rng.poisson(1000.0, PIXELS)),
    ("spread500to1500", lambda: rng.poisson(spread)),
]
for name, frame in cases:
    best = float("inf")
    for _ in range(7):
        frames = 0
        start = time.process_time()
        while True:
            frame()
            frames += 1
            elapsed = time.process_time() - start
            if elapsed > 0.05:
                break
        best = min(best, elapsed / frames)
    print(name, int(best * 1e9))
