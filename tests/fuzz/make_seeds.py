#!/usr/bin/env python3
"""Writes seed inputs for the generated routes of fuzz_engine and fuzz_python_calls, and for
fuzz_engine's column statistics.

Each seed spells the choices the driver reads from a FuzzedDataProvider, in the driver's order:
the set's dimension (8 to 300), whole-number levels with an offset and a scale (unscaled pixel
counts among them), hundreds to thousands of nodes or start nodes, a norm of each family, all
outputs, and a search plan. FuzzedDataProvider reads integers from the end of the input, most
significant byte first, so the choices are collected in order and written reversed. Keep this
file in step with the drivers' generated routes (a change there makes these seeds decode as
something else: still valid inputs, but no longer the sets described here).

    tests/fuzz/make_seeds.py            # rewrites tests/fuzz/corpus/{engine,python_calls}/gen-*
"""
import pathlib
import random

HERE = pathlib.Path(__file__).resolve().parent


class Choices:
    def __init__(self):
        self.consumed = []

    def integer(self, value, low, high):
        """ConsumeIntegralInRange(low, high) == value."""
        assert low <= value <= high, (value, low, high)
        span, offset, result, count = high - low, 0, value - low, 0
        while offset < 64 and (span >> offset) > 0:
            count += 1
            offset += 8
        self.consumed += [(result >> (8 * (count - 1 - i))) & 0xFF for i in range(count)]

    def boolean(self, value):
        self.consumed.append(1 if value else 0)

    def seed(self, value):
        self.integer(value, 0, 2**64 - 1)

    def data(self):
        return bytes(reversed(self.consumed))


def bounded_high(low, high, cost, budget):
    """The upper bound boundedCount draws from (fuzz_arguments.h)."""
    affordable = budget / cost
    if affordable < high:
        high = int(affordable) if affordable > low else low
    return high


NORMS = {2.0: 0, 1.0: 3, float("inf"): 4, 1.5: 5, 3.0: 6}  # generatedNorm's table
LEVELS = {1: 1, 4: 2, 16: 3, 255: 4}
OFFSETS = {0: 0, 100: 2, -1000: 3, 1e6: 4, 2**40: 5}
FACTORS = {1: 0, 0.01: 2, 3: 3, 1e-3: 4, 1e4: 5}


def whole_set(c, rng, n, levels, offset, factor, classes=4):
    """SetGenerator(in, 4, 300, true) with whole-number values."""
    c.seed(rng.getrandbits(64))
    c.integer(n, 4, 300)
    c.integer(0, 0, 9)  # scale: replaced by the factor
    c.integer(rng.choice([2, 3]), 0, 4)  # spread: a quarter or all of the levels
    c.boolean(False)
    c.integer(rng.choice([0, 1]), 0, 3)  # repeated rows
    c.integer(0, 0, 2)
    c.integer(classes, 1, 5)
    c.integer(rng.randint(4, 12), 1, 12)  # clusters
    c.integer(LEVELS[levels], 0, 4)
    c.integer(OFFSETS[offset], 0, 5)
    c.integer(FACTORS[factor], 0, 5)


def plan(c, rng):
    for count in (7, 7, 7, 7, 3, 5, 3):
        c.integer(rng.randrange(count), 0, count - 1)


def engine_plan(c, rng):
    c.integer(1, 0, 3)  # a plan argument
    c.integer(3, 0, 15)  # drawn, not malformed
    plan(c, rng)
    c.boolean(False)  # words apart by spaces


def generated(route, rng, n, levels, offset, factor):
    """A generated route's choice, no injected failure, and its set."""
    c = Choices()
    c.integer(route, 0, 7)
    c.integer(7, 0, 7)  # no injected failure
    whole_set(c, rng, n, levels, offset, factor)
    return c


def node_counts(c, n, nodes):
    """Nodes (64 to 3000) and patterns (up to 64) within generatedRecall's budgets."""
    top = bounded_high(64, 3000, n, 3e5)
    nodes = min(nodes, top)
    c.integer(nodes, 64, top)
    high = bounded_high(1, 256, nodes * n, 6e5)
    c.integer(min(high, 64), 1, high)


def engine_recall(rng, n, nodes, p, levels=16, offset=0, factor=1):
    c = generated(6, rng, n, levels, offset, factor)
    node_counts(c, n, nodes)
    c.integer(NORMS[p], 0, 8)
    c.integer(rng.choice([1, 2, 3]), 0, 4)  # radius width
    c.integer(rng.choice([0, 4]), 0, 4)  # radius mode
    c.boolean(rng.random() < 0.5)  # patterns as far out as the nodes, or three times
    c.boolean(True)
    c.integer(1, 0, 1)  # 1-NN rule
    c.integer(5, 1, 5)  # every output
    engine_plan(c, rng)
    return c.data()


def engine_train(rng, n, starts, p, levels=16, offset=0, factor=1):
    c = generated(7, rng, n, levels, offset, factor)
    high = bounded_high(16, 600, n, 4000)
    count = min(high, rng.choice([60, 200, 600]))
    c.integer(count, 16, high)
    c.boolean(starts > 0)
    if starts > 0:
        high = bounded_high(1, 3000, count * n, 3e6)
        c.integer(min(starts, high), 1, high)
    c.integer(rng.choice([3, 4]), 0, 5)  # Rmax
    c.integer(rng.choice([0, 2]), 0, 3)  # margin
    c.integer(NORMS[p], 0, 8)
    c.boolean(True)
    c.integer(2, 1, 2)  # passes
    c.integer(0, 0, 1)
    if starts > 0:
        c.integer(rng.choice([1, 2]), 0, 4)
        c.integer(0, 0, 4)
        c.boolean(False)
    c.integer(4, 3, 4)
    engine_plan(c, rng)
    return c.data()


def engine_statistics(rng, rows, cols, norm_index, outputs):
    """The column statistics and typical distance of a small finite matrix."""
    c = Choices()
    c.integer(8, 0, 8)  # the statistics route
    c.integer(7, 0, 7)  # no injected failure
    c.integer(rows, 0, 9)
    c.integer(cols, 0, 4)
    c.integer(0, 0, 15)  # the shape as meant
    for _ in range(rows * cols):
        c.integer(4, 0, 7)  # a small whole number
        c.integer(rng.randint(-3, 4), -3, 4)
    c.integer(0, 0, 7)  # the norm as a 1-by-1 double
    c.integer(0, 0, 15)
    c.boolean(True)  # one of the common orders
    c.integer(norm_index, 0, 4)
    c.integer(outputs, 0, 6)
    return c.data()


def python_recall(rng, n, nodes, p, levels=16, offset=0, factor=1):
    c = generated(6, rng, n, levels, offset, factor)
    node_counts(c, n, nodes)
    c.boolean(rng.random() < 0.5)
    c.integer(rng.choice([1, 2, 3]), 0, 4)  # radius width
    c.integer(NORMS[p], 0, 8)
    c.boolean(True)  # 1-NN rule
    c.boolean(True)  # quiet
    c.boolean(True)  # with info
    c.integer(2, 0, 15)  # a drawn plan
    plan(c, rng)
    return c.data()


def python_train(rng, n, p, levels=16, offset=0, factor=1):
    c = generated(7, rng, n, levels, offset, factor)
    high = bounded_high(16, 600, n, 4000)
    c.integer(min(high, rng.choice([60, 200, 600])), 16, high)
    c.boolean(rng.random() < 0.5)  # Fortran order
    c.integer(NORMS[p], 0, 8)
    c.integer(rng.choice([3, 4]), 0, 5)
    c.integer(rng.choice([0, 2]), 0, 3)
    c.integer(2, 1, 2)
    c.integer(0, 0, 1)
    c.integer(2, 0, 15)
    plan(c, rng)
    return c.data()


def main():
    rng = random.Random(20261208)
    # (n, nodes, p, levels, offset, factor): unscaled pixel counts (64 columns, ~800 nodes),
    # binary and byte-valued sets, offsets that dwarf the spread, tiny and huge scales.
    recall_sets = [(64, 800, 2.0, 16, 0, 1), (64, 800, 1.0, 16, 0, 1), (8, 3000, 2.0, 255, 0, 1),
                   (16, 2000, float("inf"), 16, 100, 1), (128, 300, 2.0, 1, 0, 1), (300, 256, 2.0, 255, 0, 1),
                   (32, 1000, 3.0, 4, -1000, 3), (12, 3000, 1.0, 16, 1e6, 1), (48, 600, 2.0, 16, 2**40, 1),
                   (10, 2500, 2.0, 255, 0, 0.01), (20, 1200, 1.5, 16, 0, 1e4), (96, 400, 2.0, 4, 0, 1e-3)]
    train_sets = [(64, 800, 2.0, 16, 0, 1), (8, 0, 2.0, 255, 0, 1), (16, 2000, 1.0, 16, 0, 1),
                  (10, 3000, float("inf"), 4, 100, 1), (128, 300, 2.0, 1, 0, 1), (300, 0, 2.0, 255, 0, 1),
                  (32, 500, 3.0, 16, 1e6, 3), (24, 1000, 2.0, 16, 0, 0.01)]
    seeds = {"engine": [], "python_calls": []}
    for n, nodes, p, levels, offset, factor in recall_sets:
        seeds["engine"].append(engine_recall(rng, n, nodes, p, levels, offset, factor))
        seeds["python_calls"].append(python_recall(rng, n, nodes, p, levels, offset, factor))
    for n, starts, p, levels, offset, factor in train_sets:
        seeds["engine"].append(engine_train(rng, n, starts, p, levels, offset, factor))
        seeds["python_calls"].append(python_train(rng, n, p, levels, offset, factor))
    # After the sets above, so that their seeds stay as they were.
    for rows, cols, norm_index, outputs in [(9, 3, 1, 5), (7, 4, 0, 3), (9, 2, 2, 4)]:
        seeds["engine"].append(engine_statistics(rng, rows, cols, norm_index, outputs))
    for name, inputs in seeds.items():
        folder = HERE / "corpus" / name
        folder.mkdir(parents=True, exist_ok=True)
        for old in folder.glob("gen-*"):
            old.unlink()
        for i, data in enumerate(inputs):
            (folder / f"gen-{i:02d}").write_bytes(data)
        print(f"{folder}: {len(inputs)} seeds")


if __name__ == "__main__":
    main()
