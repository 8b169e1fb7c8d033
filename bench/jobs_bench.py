#!/usr/bin/env python3
"""Times halvane-convert over a folder of MIDI files with --jobs 1 and --jobs 2, and
GNU parallel running `fluidsynth -F` (one per file, two at a time) on the same
files, in the same run; and the memory a job takes (the largest resident size of a
worker process).

    bench/jobs_bench.py [--build BUILD] [--soundfont SF2] [--rounds N] [MIDI_DIR]

MIDI_DIR defaults to ../shared/midi beside the checkout, SF2 to the system's
default-GM.sf2, BUILD to build. fluidsynth gets the settings halvane-bench gives it
(halvane-bench --help prints them). Each round runs the three in turn; the best of
the rounds is reported, so a moment of load from other programs counts less. The
figures depend on what else the machine runs: say so when quoting them.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

# halvane-bench's fluidsynth settings (bench/synthesis_settings.cpp): the
# synthesiser's gain, reverb and chorus on, its polyphony and sample rate.
FLUIDSYNTH_OPTIONS = ["-ni", "-q", "-g", "0.2", "-R", "1", "-C", "1", "-o", "synth.polyphony=256", "-r", "44100",
                      "-O", "s16"]


def fluidsynth_options(build):
    """The options halvane-bench --help names, or the ones above."""
    try:
        text = subprocess.run([os.path.join(build, "bin", "halvane-bench"), "--help"], capture_output=True, text=True,
                              timeout=30).stdout
    except (OSError, subprocess.TimeoutExpired):
        return FLUIDSYNTH_OPTIONS
    for line in text.splitlines():
        words = line.split()
        if "-ni" in words and "-F" in words:
            return words[words.index("-ni"):words.index("-F")]
    return FLUIDSYNTH_OPTIONS


# Runs a command and prints the largest resident size (KiB) of the processes it
# waited for: each run measured in a process of its own.
MEASURE = """
import resource, subprocess, sys
code = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL).returncode
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
sys.exit(code)
"""


def timed(command, env):
    """Wall seconds, and the largest resident size (MiB) of one of its processes."""
    start = time.monotonic()
    result = subprocess.run([sys.executable, "-c", MEASURE] + command, env=env, capture_output=True, text=True)
    wall = time.monotonic() - start
    if result.returncode != 0:
        sys.exit("jobs_bench: %s failed (%d): %s" % (command[0], result.returncode, result.stderr.strip()))
    return wall, int(result.stdout.split()[-1]) / 1024.0


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    checkout = os.path.dirname(here)
    parser = argparse.ArgumentParser()
    parser.add_argument("midi_dir", nargs="?", default=os.path.join(os.path.dirname(checkout), "shared", "midi"))
    parser.add_argument("--build", default=os.path.join(checkout, "build"))
    parser.add_argument("--soundfont", default="/usr/share/sounds/sf2/default-GM.sf2")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    convert = os.path.join(os.path.abspath(args.build), "bin", "halvane-convert")
    files = sorted(os.path.join(args.midi_dir, name) for name in os.listdir(args.midi_dir)
                   if name.lower().endswith((".mid", ".midi", ".kar")))
    if not files:
        sys.exit("jobs_bench: no MIDI files in " + args.midi_dir)
    for program in (convert, shutil.which("fluidsynth"), shutil.which("parallel")):
        if not program or not os.access(program, os.X_OK):
            sys.exit("jobs_bench: needs halvane-convert (built), fluidsynth and GNU parallel")
    soundfont = os.path.realpath(args.soundfont)
    options = fluidsynth_options(args.build)

    work = tempfile.mkdtemp(prefix="halvane-jobs-bench.")
    try:
        fonts = os.path.join(work, "fonts")
        os.mkdir(fonts)
        os.symlink(soundfont, os.path.join(fonts, os.path.basename(soundfont)))
        env = dict(os.environ, HALVANE_SOUNDFONTS=fonts, HALVANE_AUDIO_DRIVER="none",
                   XDG_STATE_HOME=os.path.join(work, "state"))
        runs = {
            "halvane-convert --jobs 1": lambda out: [convert, "--jobs", "1", "--quiet", "--out", out] + files,
            "halvane-convert --jobs 2": lambda out: [convert, "--jobs", "2", "--quiet", "--out", out] + files,
            "parallel -j2 fluidsynth -F": lambda out: (
                ["parallel", "-j2", "--halt", "now,fail=1", "fluidsynth"] + options +
                ["-T", "wav", "-F", out + "/{/.}.wav", soundfont, "{}", ":::"] + files),
        }
        best = {name: None for name in runs}
        memory = {name: None for name in runs}
        for round_number in range(args.rounds):
            for name, command in runs.items():
                out = os.path.join(work, "out")
                shutil.rmtree(out, ignore_errors=True)
                os.mkdir(out)
                wall, peak = timed(command(out), env)
                print("round %d  %-28s %7.2f s" % (round_number + 1, name, wall), flush=True)
                best[name] = wall if best[name] is None else min(best[name], wall)
                memory[name] = peak if memory[name] is None else max(memory[name], peak)
        print("files: %d in %s; SoundFont %s; %s processors" % (len(files), args.midi_dir, soundfont,
                                                                len(os.sched_getaffinity(0))))
        for name in runs:
            print("best  %-28s %7.2f s" % (name, best[name]))
        one, two, peer = (best[name] for name in runs)
        print("jobs 2 against jobs 1:   %.2fx faster" % (one / two))
        print("jobs 2 against parallel: %.2f (parallel's time over ours; goal at least 1.0)" % (peer / two))
        for name in runs:
            print("largest process of %-28s %6.0f MiB" % (name, memory[name]))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
