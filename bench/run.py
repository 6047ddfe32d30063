#!/usr/bin/env python3
"""Times pair_report beside yardsticks and a plain reference build, on inputs made here.

Usage: run.py PAIR_REPORT REFERENCE YARDSTICK START_YARDSTICK [--runs N] [--cap TIER] [--only RE]

Each case runs the programs in turn, N times (default 5), in the same plumbing, and prints the
medians:
- the yardstick: what the machine does without pair_report. For an input, reading the same bytes
  into one reused 256 KiB buffer and touching each one; for heavy output, writing the same number
  of bytes into the same pipe or file, in the same sizes, after reading the input where there is
  one to read; for one short word run many times, a small C program that reads the word and writes
  a line, in the same shell loop;
- pair_report's time, and that time as a multiple of the yardstick's (x yard: 1.0 is the limit
  the machine sets);
- the reference's time, and the speed-up over it;
- pair_report's peak resident memory (from GNU time).
Cases marked "once" run pair_report a single time, for its memory, without the reference. Last,
where valgrind is installed, cachegrind counts the instructions and mispredicted branches of a
piece on dense pieces: counts that do not drift with the machine's load. (valgrind runs no
AVX-512, so there the AVX2 kernel runs.)

Some targets are tighter for the fastest tier of kernels (AVX-512) than for the others. The tier
is the fastest this processor has, or the cap the build was made with (--cap, from
-DPAIR_REPORT_KERNEL_CAP), whichever is lower. --only runs the cases whose names match.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

KIB = 1 << 10
MIB = 1 << 20
GIB = 1 << 30
STARTS = 500  # runs of the one-word case, in one shell loop


def translated(size, alphabet):
    """Random bytes drawn from `alphabet` (never white space, so the whole input is one token)."""
    table = bytes(alphabet[byte % len(alphabet)] for byte in range(256))
    return os.urandom(size).translate(table)


PRINTABLE = bytes(range(0x21, 0x7F))


def write_repeated(path, unit, size, tail=b""):
    """A file of `unit` repeated to `size` bytes, then `tail`, written a mebibyte at a time."""
    block = unit * (MIB // len(unit))
    with open(path, "wb") as file:
        for _ in range(size // MIB):
            file.write(block)
        file.write(block[:size % MIB] + tail)


def random_of(alphabet):
    def write(path, size):
        with open(path, "wb") as file:
            for _ in range(size // (64 * MIB)):
                file.write(translated(64 * MIB, alphabet))
            file.write(translated(size % (64 * MIB), alphabet))
    return write


def write_word_past_four_gibibytes(path, size):
    """2^32 bytes of unequal pairs, then bccdd: the lines b, c and cd."""
    write_repeated(path, b"ab", size, b"bccdd")


def write_word(path, size):
    with open(path, "wb") as file:
        file.write(b"bookkeeper\n")


# How a case runs: alternately with the reference and the yardstick, with the yardstick alone, or
# once with the yardstick, for pair_report's memory.
WITH_REFERENCE, WITHOUT_REFERENCE, ONCE = "with reference", "without reference", "once"
# Where the input comes from and the output goes.
FILE, PIPE, NOWHERE, LOOP = "file", "pipe", "nowhere", "shell loop"
# What the yardstick does: read the input, write what pair_report writes, or both; or, for the
# shell loop, start a small C program.
READ, WRITE, READ_WRITE, START = "read", "write", "read-write", "start"


def acgt(path, size):
    random_of(b"ACGT")(path, size)


def aabb(path, size):
    write_repeated(path, b"aabb", size)


def equal_bytes(path, size):
    write_repeated(path, b"a", size)


# name, input size, input maker, input from, output to, yardstick, targets, how it runs.
# Targets: ("x yard", most), ("speed-up", least), ("peak MiB", most); a pair of bounds is the
# fastest tier's, then every other tier's.
CASES = [
    ("scan-bound", 128 * MIB, lambda path, size: write_repeated(path, b"ab", size), FILE, NOWHERE,
     READ, [("x yard", 1.2)], WITH_REFERENCE),
    ("typical", 64 * MIB, random_of(PRINTABLE), FILE, NOWHERE, READ,
     [("x yard", (1.2, 1.25)), ("peak MiB", 8)], WITH_REFERENCE),
    ("dense pieces", 64 * MIB, acgt, FILE, NOWHERE, READ, [("x yard", (2.0, 2.5))],
     WITH_REFERENCE),
    ("short pieces", 16 * MIB, aabb, FILE, NOWHERE, READ, [("x yard", 5.0)], WITH_REFERENCE),
    ("ACGT, file", 64 * MIB, acgt, FILE, FILE, READ_WRITE, [("x yard", (1.4, 1.6))],
     WITHOUT_REFERENCE),
    ("ACGT, pipe", 64 * MIB, acgt, FILE, PIPE, READ_WRITE, [("x yard", (1.6, 1.8))],
     WITHOUT_REFERENCE),
    ("aabb, file", 16 * MIB, aabb, FILE, FILE, READ_WRITE, [("x yard", (1.4, 1.6))],
     WITHOUT_REFERENCE),
    ("aabb, pipe", 16 * MIB, aabb, FILE, PIPE, READ_WRITE, [("x yard", (1.6, 1.8))],
     WITHOUT_REFERENCE),
    ("output, pipe", 40000, equal_bytes, FILE, PIPE, WRITE, [("x yard", 1.1)], WITH_REFERENCE),
    ("output, file", 40000, equal_bytes, FILE, FILE, WRITE, [("x yard", 1.2)], WITHOUT_REFERENCE),
    ("piped input", 64 * MIB, random_of(PRINTABLE), PIPE, NOWHERE, READ,
     [("x yard", 1.2), ("peak MiB", 8)], WITH_REFERENCE),
    ("piped 1 GiB", GIB, random_of(PRINTABLE), PIPE, NOWHERE, READ, [("x yard", 1.2)],
     WITHOUT_REFERENCE),
    ("one word", 11, write_word, LOOP, NOWHERE, START, [("x yard", 1.2)], WITHOUT_REFERENCE),
    ("2^32+5, file", 4 * GIB, write_word_past_four_gibibytes, FILE, NOWHERE, READ,
     [("peak MiB", 16)], ONCE),
    ("2^32+5, pipe", 4 * GIB, write_word_past_four_gibibytes, PIPE, NOWHERE, READ,
     [("peak MiB", 16)], ONCE),
]


def run_once(command, path, source, sink, output_path):
    """Runs `command` on the input at `path`; returns (seconds, peak resident KiB)."""
    # GNU time reports the peak of the program alone; the rusage of a child forked from this
    # script would start from the script's own peak.
    peak_file = path + ".peak"
    if source == LOOP:  # the whole loop is timed; the peak is the largest of any process in it
        command = ["sh", "-c", f'i=0; while [ $i -lt {STARTS} ]; do "$@" < "{path}" > /dev/null; '
                   'i=$((i + 1)); done', "sh", *command]
    timed = ["/usr/bin/time", "-f", "%M", "-o", peak_file, *command]
    if os.path.exists(output_path):  # freed here, not while the next run is timed
        os.remove(output_path)
    with open(path, "rb") as source_file, open(output_path, "wb") as output_file:
        producer = subprocess.Popen(["cat", path], stdout=subprocess.PIPE) if source == PIPE else None
        consumer = (subprocess.Popen(["cat"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
                    if sink == PIPE else None)
        start = time.perf_counter()
        process = subprocess.Popen(
            timed, stdin=producer.stdout if producer else source_file,
            stdout=consumer.stdin if consumer else output_file if sink == FILE
            else subprocess.DEVNULL)
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
        sys.exit(f"{command[-1] if source == LOOP else command[0]} failed with status {status}")
    with open(peak_file) as peak:
        return elapsed, int(peak.read())


def shown_size(size, source):
    if source == LOOP:
        return f"{STARTS}x"
    for unit, name in ((GIB, "Gi"), (MIB, "Mi"), (KIB, "Ki")):
        if size >= unit:
            return f"{size / unit:.0f}{name}" if size % unit == 0 else f"{size / unit:.1f}{name}"
    return str(size)


def verdict(figure, value, bound):
    held = value >= bound if figure == "speed-up" else value <= bound
    relation = ">=" if figure == "speed-up" else "<="
    return held, f"{figure} {relation} {bound:g}{'' if held else ' MISSED'}"


def bytes_written(program, path):
    """How many bytes pair_report writes for the input at `path`, from one untimed run."""
    with open(path, "rb") as source:
        run = subprocess.Popen([program], stdin=source, stdout=subprocess.PIPE)
        written = sum(len(chunk) for chunk in iter(lambda: run.stdout.read(MIB), b""))
    if run.wait() != 0:
        sys.exit(f"{program} failed on the input of a case")
    return written


def yardstick_for(paths, program, input_path, sink, work):
    yardstick, start_yardstick = paths
    if work == START:
        return [start_yardstick]
    if work == READ:
        return [yardstick, READ]
    # 256 KiB into a file, as pair_report writes. Into a pipe, 8 KiB: the size of pair_report's
    # long lines there, and the fastest way to stream bytes into cat (its short lines go out 256
    # KiB at a time, which once cost the yardstick twice as much, and now as much).
    return [yardstick, work, str(bytes_written(program, input_path)),
            str(8 * KIB if sink == PIPE else 256 * KIB)]


def kernel_tier(cap):
    """The fastest implementation this processor has, or the cap, whichever is lower."""
    tiers = ["avx512bw", "avx2", "sse4.1", "sse2"]
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            flags = next((line.split() for line in cpuinfo if line.startswith("flags")), [])
    except OSError:
        flags = []
    fastest = next((tier for tier in tiers if tier.replace(".", "_") in flags), "other")
    if cap in tiers and fastest in tiers:
        return tiers[max(tiers.index(cap), tiers.index(fastest))]
    return cap or fastest


def cachegrind_counts(program, folder):
    """Instructions and mispredicted branches a piece, on 4 MiB of random A, C, G and T."""
    if shutil.which("valgrind") is None:
        print("cachegrind: valgrind is not installed")
        return 0
    path = os.path.join(folder, "dense")
    random_of(b"ACGT")(path, 4 * MIB)
    with open(path, "rb") as source:
        run = subprocess.run(["valgrind", "--tool=cachegrind", "--cache-sim=no", "--branch-sim=yes",
                              "--cachegrind-out-file=/dev/null", program],
                             stdin=source, capture_output=True, check=True)
    pieces = run.stdout.count(b"\n")

    def count(label):
        return int(re.search(rf"{label}:\s+([\d,]+)", run.stderr.decode()).group(1).replace(",", ""))

    per_piece = {"instructions": count("I +refs") / pieces,
                 "mispredicted": count("Mispredicts") / pieces}
    met = 0
    verdicts = []
    for figure, bound in (("instructions", 18), ("mispredicted", 0.1)):
        held, text = verdict(figure, per_piece[figure], bound)
        met += held
        verdicts.append(text)
    print(f"dense pieces, 4 MiB, by cachegrind, a piece: {per_piece['instructions']:.1f} "
          f"instructions, {per_piece['mispredicted']:.3f} mispredicted branches  "
          f"{', '.join(verdicts)}")
    return met


def main():
    parser = argparse.ArgumentParser()
    for name in ("program", "reference", "yardstick", "start_yardstick"):
        parser.add_argument(name)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--cap", default="")
    parser.add_argument("--only", default="")
    arguments = parser.parse_args()
    program = arguments.program
    tier = kernel_tier(arguments.cap)
    fastest_tier = tier == "avx512bw"
    cases = [case for case in CASES if re.search(arguments.only, case[0])]
    print(f"kernels: {tier}; targets for {'the fastest tier' if fastest_tier else 'other tiers'}")
    print(f"{'case':<13} {'input':>6} {'yardstick':>10} {'pair_report':>11} {'x yard':>7} "
          f"{'reference':>10} {'speed-up':>8} {'peak MiB':>8}  targets")
    met_all = 0
    # Output into a file goes to memory where there is a tmpfs, so that the disk's write-back of
    # one run does not slow the next: what is timed is the writing, not the disk.
    memory = "/dev/shm" if os.path.isdir("/dev/shm") else None
    with tempfile.TemporaryDirectory() as folder, tempfile.TemporaryDirectory(dir=memory) as out:
        output_path = os.path.join(out, "output")
        for name, size, make, source, sink, work, targets, how in cases:
            path = os.path.join(folder, "input")
            make(path, size)
            size = os.path.getsize(path)
            commands = {"yardstick": yardstick_for((arguments.yardstick,
                                                    arguments.start_yardstick),
                                                   program, path, sink, work),
                        "pair_report": [program]}
            if how == WITH_REFERENCE:
                commands["reference"] = [arguments.reference]
            times = {key: [] for key in commands}
            peaks = []
            for _ in range(1 if how == ONCE else arguments.runs):
                for key, command in commands.items():
                    seconds, peak = run_once(command, path, source, sink, output_path)
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
                if isinstance(bound, tuple):
                    bound = bound[0] if fastest_tier else bound[1]
                held, text = verdict(figure, figures[figure], bound)
                met_all += held
                verdicts.append(text)
            reference_shown = (f"{median['reference'] * 1000:>8.1f}ms {figures['speed-up']:>7.1f}x"
                               if "reference" in median else f"{'-':>10} {'-':>8}")
            print(f"{name:<13} {shown_size(size, source):>6} {median['yardstick'] * 1000:>8.1f}ms "
                  f"{median['pair_report'] * 1000:>9.1f}ms {figures['x yard']:>6.2f}x "
                  f"{reference_shown} {figures['peak MiB']:>8.1f}  {', '.join(verdicts)}",
                  flush=True)
        if re.search(arguments.only, "cachegrind"):
            met_all += cachegrind_counts(program, folder)
    total = sum(len(case[6]) for case in cases) + (2 if re.search(arguments.only, "cachegrind") else 0)
    print(f"{met_all} of {total} targets met")


if __name__ == "__main__":
    main()
