#!/usr/bin/env python3
"""Times pair_report against the plain reference build, side by side on inputs made here.

Usage: run.py PAIR_REPORT REFERENCE [RUNS]. Each case runs both programs alternately RUNS times
and prints the medians: time, throughput, speed-up (reference time / pair_report time) and peak
resident memory, with the target each case is held to.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20
# name, input maker, piped input, piped output, target speed-up
CASES = [
    ("scan-bound", lambda: b"ab" * (64 * MIB), False, False, 35.0),
    ("typical", lambda: random_printable(64 * MIB), False, False, 15.0),
    ("short pieces", lambda: b"aabb" * (4 * MIB), False, False, 8.0),
    ("heavy output", lambda: b"a" * 40000, False, True, 1.1),
    ("piped input", lambda: random_printable(64 * MIB), True, False, 4.0),
]


def random_printable(size):
    """Bytes 0x21 to 0x7E: printable, never white space, so the whole file is one token."""
    table = bytes(0x21 + byte % 94 for byte in range(256))
    return os.urandom(size).translate(table)


def run_once(program, path, piped_input, piped_output):
    """Returns (seconds, peak resident KiB) for one run."""
    # GNU time reports the peak of the program alone; the rusage of a child forked from this
    # script would start from the script's own peak.
    peak_file = path + ".peak"
    with open(path, "rb") as source:
        producer = subprocess.Popen(["cat", path], stdout=subprocess.PIPE) if piped_input else None
        consumer = (subprocess.Popen(["cat"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
                    if piped_output else None)
        start = time.perf_counter()
        process = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak_file, program], stdin=producer.stdout if producer else source,
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
        sys.exit(f"{program} failed with status {status}")
    with open(peak_file) as peak:
        return elapsed, int(peak.read())


def main():
    program, reference = sys.argv[1:3]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    print(f"{'case':<13} {'input':>9} {'reference':>10} {'pair_report':>11} {'throughput':>11} "
          f"{'speed-up':>9} {'target':>7} {'peak MiB':>9} {'ref MiB':>8}")
    failed = 0
    with tempfile.TemporaryDirectory() as folder:
        for name, make, piped_input, piped_output, target in CASES:
            path = os.path.join(folder, "input")
            with open(path, "wb") as file:
                file.write(make())  # written at once and dropped, to keep this script small
            size = os.path.getsize(path)
            times = {program: [], reference: []}
            peaks = {program: [], reference: []}
            for _ in range(runs):
                for binary in (reference, program):
                    seconds, peak = run_once(binary, path, piped_input, piped_output)
                    times[binary].append(seconds)
                    peaks[binary].append(peak)
            ours, theirs = statistics.median(times[program]), statistics.median(times[reference])
            moved = size * (size - 1) // 2 if piped_output else size  # heavy output: bytes written
            speed_up = theirs / ours
            peak = max(peaks[program]) / 1024
            memory_ok = size < 32 * MIB or peak <= 1.1 * size / MIB + 32
            met = speed_up >= target and memory_ok
            failed += not met
            shown = f"{size / MIB:.1f}Mi" if size >= MIB else f"{size / 1024:.0f}Ki"
            print(f"{name:<13} {shown:>9} {theirs * 1000:>8.1f}ms {ours * 1000:>9.1f}ms "
                  f"{moved / MIB / ours:>7.0f}MiB/s {speed_up:>8.1f}x {target:>6.1f}x "
                  f"{peak:>9.1f} {max(peaks[reference]) / 1024:>8.1f}"
                  f"{'' if met else '  below target'}")
    print(f"{len(CASES) - failed} of {len(CASES)} cases met their targets")


if __name__ == "__main__":
    main()
