#!/usr/bin/env python3
"""Watches a program folder's speedTest while a test runs and tells how long after the end of each
interval its live line appeared: the end of an interval is when the last server still running
wrote that interval's [SUM] line (iperf3 --forceflush writes it as the interval ends). Polls every
10 ms until the file named by --stop exists; prints "<stage> <intervals> <worst s> <median s>
<worst after the first server s>" per stage. With --shown FILE it also writes there every live line
it saw, each once, as "<stage> <seconds> <Mbit/s>": a line the program rewrote while the stage ran
counts with each value it showed."""
import argparse
import os
import statistics
import time


def is_interval(line):
    return "[SUM]" in line and "sender" not in line and "receiver" not in line


class Output:
    def __init__(self):
        self.offset = 0
        self.partial = b""
        self.times = []  # when each interval [SUM] line appeared

    def look(self, path, now):
        try:
            with open(path, "rb") as f:
                size = os.fstat(f.fileno()).st_size
                if size < self.offset:
                    self.offset, self.partial, self.times = 0, b"", []
                f.seek(self.offset)
                data = f.read()
        except OSError:
            return
        self.offset += len(data)
        lines = (self.partial + data).split(b"\n")
        self.partial = lines.pop()
        for line in lines:
            if is_interval(line.decode(errors="replace")):
                self.times.append(now)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--servers", type=int, required=True)
    parser.add_argument("--stop", required=True)
    parser.add_argument("--shown")
    args = parser.parse_args()
    shown = {}  # (stage, line) -> None: each line seen, in the order seen
    outputs = {s: [Output() for _ in range(args.servers)] for s in ("dn", "up")}
    live_times = {"dn": [], "up": []}
    while not os.path.exists(args.stop):
        now = time.monotonic()
        for stage in ("dn", "up"):
            for i, output in enumerate(outputs[stage]):
                output.look(os.path.join(args.folder, f"{stage}_speed_{i}.txt"), now)
            try:
                with open(os.path.join(args.folder, f"{stage}_live.txt"), "rb") as f:
                    live = f.read()
            except OSError:
                live = b""
            count = live.count(b"\n")
            for line in live.decode(errors="replace").split("\n")[:count]:
                shown.setdefault((stage, line.strip()), None)
            while len(live_times[stage]) < count:
                live_times[stage].append(now)
        time.sleep(0.01)
    if args.shown:
        with open(args.shown, "w") as f:
            for stage, line in shown:
                f.write(f"{stage} {line}\n")
    for stage in ("dn", "up"):
        delays, from_first = [], []
        for k, shown in enumerate(live_times[stage]):
            ends = [o.times[k] for o in outputs[stage] if len(o.times) > k]
            if ends:
                delays.append(shown - max(ends))
                from_first.append(shown - min(ends))
        if delays:
            print(f"{stage} {len(delays)} {max(delays):.2f} {statistics.median(delays):.2f} "
                  f"{max(from_first):.2f}")
        else:
            print(f"{stage} 0 - - -")


if __name__ == "__main__":
    main()
