#!/usr/bin/env bash
# Tries scripts/cluster/slurm-convert on a real Slurm of one node started here:
# munged, slurmctld and slurmd with a generated configuration (this machine's
# processors and memory, one partition), all state in a private temporary folder.
# An array of 3 tasks converts a dozen generated songs; every song must come out
# exactly once, whole, and the manifests must name every file. The daemons are
# stopped by their process ids however the test ends.
#
#   scripts/cluster/slurm_test.sh [BUILD_DIR]     (default: build)
#
# Needs root (slurmd starts the tasks as the submitting user) and the slurm-wlm and
# munge packages (scripts/setup.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath -e "${1:-build}")
convert="$build/bin/halvane-convert"
[ -x "$convert" ] || { echo "slurm_test: $convert: not built" >&2; exit 1; }
for program in munged mungekey slurmctld slurmd sbatch squeue sinfo; do
  command -v "$program" >/dev/null || { echo "slurm_test: $program not installed (scripts/setup.sh)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/halvane-slurm.XXXXXX")
chmod 700 "$work"
pids=()
stop_daemons() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap stop_daemons EXIT
fail() {
  echo "slurm_test: FAILED: $*" >&2
  for log in "$work"/*.log "$work"/out/slurm-*.out; do
    [ -f "$log" ] && { echo "--- $log" >&2; tail -n 30 "$log" >&2; }
  done
  exit 1
}
# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local seconds=$1; shift
  local until=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $until ] || return 1
    sleep 0.5
  done
}

# Munge: a fresh key, its socket and state in the private folder.
mkdir -m 700 "$work/munge"
mungekey --create --keyfile="$work/munge/munge.key" --bits=1024
chmod 600 "$work/munge/munge.key"
munged --force --key-file="$work/munge/munge.key" --socket="$work/munge/munge.sock" \
  --pid-file="$work/munge/munged.pid" --log-file="$work/munged.log" --seed-file="$work/munge/seed"
wait_for 10 test -s "$work/munge/munged.pid" || fail "munged did not start"
pids+=("$(cat "$work/munge/munged.pid")")

# Slurm: one node, this machine, on ports of its own.
host=$(hostname -s)
cpus=$(nproc)
memory=$(( $(awk '/^MemTotal:/ {print $2}' /proc/meminfo) / 1024 * 9 / 10 ))
port=$((20000 + RANDOM % 20000))
mkdir -m 700 "$work/state" "$work/spool"
cat > "$work/slurm.conf" <<CONF
ClusterName=halvanetest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge/munge.sock
CredType=cred/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=halvane Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF="$work/slurm.conf"
timeout 600 slurmctld -i -D >"$work/slurmctld.out" 2>&1 &
pids+=($!)
timeout 600 slurmd -D -N "$host" >"$work/slurmd.out" 2>&1 &
pids+=($!)
node_idle() { [ "$(sinfo -h -n "$host" -o %t)" = idle ]; }
wait_for 60 node_idle || fail "the node did not come up"

# A dozen short songs, some in subfolders, two of the same name.
songs="$work/songs"
mkdir -p "$songs/a" "$songs/b/c"
python3 - "$songs" <<'PY'
import os, struct, sys
root = sys.argv[1]
def song(path, notes):
    events = b""
    for i in range(notes):
        key = 60 + (i * 5) % 24
        events += b"\x00\x90" + bytes([key, 100]) + b"\x60\x80" + bytes([key, 0])
    events += b"\x00\xff\x2f\x00"
    with open(path, "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96))
        f.write(b"MTrk" + struct.pack(">I", len(events)) + events)
names = ["one.mid", "two.mid", "three.mid", "four.mid", "a/one.mid", "a/five.mid", "a/six.mid",
         "b/seven.mid", "b/eight.mid", "b/c/nine.mid", "b/c/ten.mid", "b/c/eleven.mid"]
for n, name in enumerate(names):
    song(os.path.join(root, name), 2 + n % 3)
PY
# A soundfont of the system's; the workers need no sound device.
mkdir -p "$work/fonts" "$work/xdg"
for font in /usr/share/sounds/sf2/TimGM6mb.sf2 /usr/share/sounds/sf2/FluidR3_GM.sf2; do
  [ -f "$font" ] && { ln -s "$font" "$work/fonts/"; break; }
done
export HALVANE_SOUNDFONTS="$work/fonts" HALVANE_AUDIO_DRIVER=none XDG_STATE_HOME="$work/xdg"

job=$(HALVANE_CONVERT="$convert" scripts/cluster/slurm-convert --tasks 3 "$songs" "$work/out" -- --jobs 1)
[[ $job =~ ^[0-9]+$ ]] || fail "slurm-convert printed '$job', not a job id"
echo "slurm_test: job $job submitted"
job_gone() { [ -z "$(squeue -h -j "$job" 2>/dev/null)" ]; }
wait_for 300 job_gone || fail "job $job did not finish"

# Every song once, in its mirrored folder, as a whole WAV file; nothing else.
expected=$(cd "$songs" && find . -name '*.mid' | sed 's/\.mid$/.wav/' | sort)
written=$(cd "$work/out" && find . -name '*.wav' | sort)
[ "$expected" = "$written" ] || fail "outputs differ from the songs:\n$written"
[ -z "$(find "$work/out" -name '*.halvane-part')" ] || fail "part files left"
while read -r wav; do
  size=$(stat -c %s "$work/out/$wav")
  [ "$size" -gt 1000 ] || fail "$wav has only $size bytes"
done <<<"$expected"
manifests=$(ls "$work/out"/manifest-*.jsonl | wc -l)
[ "$manifests" -eq 3 ] || fail "$manifests manifests, not 3"
python3 - "$songs" "$work/out" <<'PY' || fail "the manifests do not name every song once"
import glob, json, os, sys
songs, out = sys.argv[1], sys.argv[2]
want = sorted(os.path.join(d, f) for d, _, fs in os.walk(songs) for f in fs if f.endswith(".mid"))
seen = []
for manifest in glob.glob(os.path.join(out, "manifest-*.jsonl")):
    for line in open(manifest):
        record = json.loads(line)
        assert record["status"] == "ok", record
        assert os.path.isfile(record["output"]), record
        seen.append(record["input"])
assert sorted(seen) == want, (sorted(seen), want)
PY
echo "slurm_test: job $job: every song converted exactly once over 3 tasks, every one in the manifests"
