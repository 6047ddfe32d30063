#!/usr/bin/env python3
"""Times pair_report beside a yardstick and a plain reference build, on inputs made here.

Usage: run.py PAIR_REPORT REFERENCE YARDSTICK [RUNS]

Each case runs the three programs in turn, RUNS times (default 5), in the same plumbing, and
prints the medians:
- the yardstick: what the machine does without pair_report. For an input, reading the same bytes
  into one reused 256 KiB buffer and touching each one; for heavy output, writing the same number
  of bytes in 8 KiB writes into the same pipe;
- pair_report's time, and that time as a multiple of the yardstick's (x yard: 1.0 is the limit
  the machine sets);
- the reference's time, and the speed-up over it;
- pair_report's peak resident memory (from GNU time).
Cases marked "once" run pair_report a single time, for its memory, without the reference.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

KIB = 1 << 10
MIB = 1 << 20
GIB = 1 << 30


def random_printable(size):
    """Bytes 0x21 to 0x7E: printable, never white space, so the whole input is one token."""
    table = bytes(0x21 + byte % 94 for byte in range(256))
    return os.urandom(size).translate(table)


def write_repeated(path, unit, size, tail=b""):
    """A file of `unit` repeated to `size` bytes, then `tail`, written a mebibyte at a time."""
    block = unit * (MIB // len(unit))
    with open(path, "wb") as file:
        for _ in range(size // MIB):
            file.write(block)
        file.write(block[:size % MIB] + tail)


def write_random(path, size):
    with open(path, "wb") as file:
        for _ in range(size // (64 * MIB)):
            file.write(random_printable(64 * MIB))
        file.write(random_printable(size % (64 * MIB)))


def write_word_past_four_gibibytes(path, size):
    """2^32 bytes of unequal pairs, then bccdd: the lines b, c and cd."""
    write_repeated(path, b"ab", size, b"bccdd")


# How a case runs: alternately with the reference and the yardstick, with the yardstick alone, or
# once with the yardstick, for pair_report's memory.
WITH_REFERENCE, WITHOUT_REFERENCE, ONCE = "with reference", "without reference", "once"

# name, input size, input maker, piped input, piped output, targets, how it runs.
# Targets: ("x yard", most), ("speed-up", least), ("peak MiB", most).
CASES = [
    ("scan-bound", 128 * MIB, lambda path, size: write_repeated(path, b"ab", size), False, False,
     [("x yard", 1.2)], WITH_REFERENCE),
    ("typical", 64 * MIB, write_random, False, False, [("x yard", 1.5), ("peak MiB", 8)],
     WITH_REFERENCE),
    ("short pieces", 16 * MIB, lambda path, size: write_repeated(path, b"aabb", size), False,
     False, [("speed-up", 14.0)], WITH_REFERENCE),
    ("heavy output", 40000, lambda path, size: write_repeated(path, b"a", size), False, True,
     [("x yard", 1.1)], WITH_REFERENCE),
    ("piped input", 64 * MIB, write_random, True, False, [("x yard", 1.2), ("peak MiB", 8)],
     WITH_REFERENCE),
    ("piped 1 GiB", GIB, write_random, True, False, [("x yard", 1.2)], WITHOUT_REFERENCE),
    ("2^32+5, file", 4 * GIB, write_word_past_four_gibibytes, False, False, [("peak MiB", 16)],
     ONCE),
    ("2^32+5, pipe", 4 * GIB, write_word_past_four_gibibytes, True, False, [("peak MiB", 16)],
     ONCE),
]


def run_once(command, path, piped_input, piped_output):
    """Runs `command` on the input at `path`; returns (seconds, peak resident KiB)."""
    # GNU time reports the peak of the program alone; the rusage of a child forked from this
    # script would start from the script's own peak.
    peak_file = path + ".peak"
    with open(path, "rb") as source:
        producer = subprocess.Popen(["cat", path], stdout=subprocess.PIPE) if piped_input else None
        consumer = (subprocess.Popen(["cat"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
                    if piped_output else None)
        start = time.perf_counter()
        process = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak_file, *command],
                                   stdin=producer.stdout if producer else source,
                                   stdout=consumer.stdin if consumer else subprocess.DEVNULL)
        for pipe in (producer and producer.stdout, consumer and consumer.stdin):
            if pipe:
                pipe.close()
        status = process.wait()
        if consumer:
            consumer.wait()
        elapsed = time.perf_counter() - start
        if producer:
            producer.wait()
    if status != 0:
        sys.exit(f"{command[0]} failed with status {status}")
    with open(peak_file) as peak:
        return elapsed, int(peak.read())


def shown_size(size):
    for unit, name in ((GIB, "Gi"), (MIB, "Mi"), (KIB, "Ki")):
        if size >= unit:
            return f"{size / unit:.0f}{name}" if size % unit == 0 else f"{size / unit:.1f}{name}"
    return str(size)


def main():
    program, reference, yardstick = sys.argv[1:4]
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 5
    print(f"{'case':<13} {'input':>6} {'yardstick':>10} {'pair_report':>11} {'x yard':>7} "
          f"{'reference':>10} {'speed-up':>8} {'peak MiB':>8}  targets")
    met_all = 0
    with tempfile.TemporaryDirectory() as folder:
        for name, size, make, piped_input, piped_output, targets, how in CASES:
            path = os.path.join(folder, "input")
            make(path, size)
            size = os.path.getsize(path)
            # Heavy output, a run of equal bytes: the yardstick writes as many bytes as pair_report
            # writes, n(n - 1)/2 of pieces and n - 1 line feeds.
            written = size * (size - 1) // 2 + size - 1 if piped_output else 0
            yard = ["write", str(written)] if piped_output else ["read"]
            commands = {"yardstick": [yardstick, *yard], "pair_report": [program]}
            if how == WITH_REFERENCE:
                commands["reference"] = [reference]
            times = {key: [] for key in commands}
            peaks = []
            for _ in range(1 if how == ONCE else runs):
                for key, command in commands.items():
                    seconds, peak = run_once(command, path, piped_input, piped_output)
                    times[key].append(seconds)
                    if key == "pair_report":
                        peaks.append(peak)
            os.remove(path)
            median = {key: statistics.median(values) for key, values in times.items()}
            figures = {"x yard": median["pair_report"] / median["yardstick"],
                       "peak MiB": max(peaks) / 1024}
            if "reference" in median:
                figures["speed-up"] = median["reference"] / median["pair_report"]
            verdicts = []
            for figure, bound in targets:
                held = (figures[figure] >= bound if figure == "speed-up"
                        else figures[figure] <= bound)
                verdicts.append(f"{figure} {'>=' if figure == 'speed-up' else '<='} {bound:g}"
                                f"{'' if held else ' MISSED'}")
                met_all += held
            reference_shown = (f"{median['reference'] * 1000:>8.1f}ms {figures['speed-up']:>7.1f}x"
                               if "reference" in median else f"{'-':>10} {'-':>8}")
            print(f"{name:<13} {shown_size(size):>6} {median['yardstick'] * 1000:>8.1f}ms "
                  f"{median['pair_report'] * 1000:>9.1f}ms {figures['x yard']:>6.2f}x "
                  f"{reference_shown} {figures['peak MiB']:>8.1f}  {', '.join(verdicts)}",
                  flush=True)
    total = sum(len(case[5]) for case in CASES)
    print(f"{met_all} of {total} targets met")


if __name__ == "__main__":
    main()
