#!/usr/bin/env bash
# Starts a one-node Slurm cluster on this machine (private munge key and
# socket, private ports, state and logs in a private temporary folder, no
# cgroups), generates 6 scenes in one job and renders them with a 3-task array
# job of scripts/slurm/generate.sbatch, then checks that the scenes and every
# sequence file equal a local run byte for byte. The daemons are stopped when
# the script ends, whatever the outcome. A cluster that cannot start fails the
# test with the reason. Must run as root (slurmd starts jobs as their user).
#
#   run_slurm_test.sh TOVIMAR-RENDER TOVIMAR-SCENEGEN SOURCE-DIR
set -uo pipefail

render="$1"
scenegen="$2"
source_dir="$3"

fail() {
  echo "slurm test FAILED: $*" >&2
  exit 1
}

[ "$(id -u)" -eq 0 ] || fail "must run as root (slurmd runs the jobs as their user)"
for program in munged slurmctld slurmd sbatch sinfo scancel; do
  command -v "$program" >/dev/null || fail "$program is missing: install slurm-wlm and munge (scripts/install-deps.sh)"
done

tmp="$(mktemp -d /tmp/tovimar-slurm-XXXXXX)" || fail "cannot make a temporary folder"
chmod 0755 "$tmp"
export SLURM_CONF="$tmp/slurm.conf"

stop_pid_file() {
  local file="$1"
  [ -s "$file" ] || return 0
  local pid
  pid="$(cat "$file")"
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null || true
}

cleanup() {
  local status=$?
  if [ -f "$SLURM_CONF" ] && [ -s "$tmp/slurmctld.pid" ]; then scancel --full --quiet --user=root 2>/dev/null || true; fi
  stop_pid_file "$tmp/slurmd.pid"
  stop_pid_file "$tmp/slurmctld.pid"
  stop_pid_file "$tmp/munged.pid"
  if [ "$status" -ne 0 ]; then
    for log in "$tmp"/*.log; do
      [ -f "$log" ] || continue
      echo "---- $(basename "$log") (last lines)" >&2
      tail -n 15 "$log" >&2
    done
  fi
  rm -rf "$tmp"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# A free TCP port pair: nothing answers on either.
port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
base=""
for _ in $(seq 40); do
  candidate=$((20000 + RANDOM % 20000))
  if port_free "$candidate" && port_free $((candidate + 1)); then base="$candidate"; break; fi
done
[ -n "$base" ] || fail "no free pair of TCP ports found"

# munge with its own key and socket, so a system munged is left alone.
dd if=/dev/urandom of="$tmp/munge.key" bs=1024 count=1 status=none || fail "cannot write a munge key"
chmod 0400 "$tmp/munge.key"
munged --force --key-file="$tmp/munge.key" --socket="$tmp/munge.socket" --pid-file="$tmp/munged.pid" \
  --log-file="$tmp/munged.log" --seed-file="$tmp/munged.seed" 2>"$tmp/munged-start.log" ||
  fail "munged did not start: $(cat "$tmp/munged-start.log")"
for _ in $(seq 50); do [ -S "$tmp/munge.socket" ] && break; sleep 0.1; done
munge --socket="$tmp/munge.socket" -n | unmunge --socket="$tmp/munge.socket" | grep -q "STATUS: *Success" ||
  fail "munge does not work (munge -n | unmunge)"

host="$(hostname -s)"
mkdir -p "$tmp/state" "$tmp/spool" "$tmp/work"
cat >"$SLURM_CONF" <<CONF
ClusterName=tovimartest
SlurmctldHost=$host
SlurmctldPort=$base
SlurmdPort=$((base + 1))
AuthType=auth/munge
AuthInfo=socket=$tmp/munge.socket
CredType=cred/munge
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$tmp/state
SlurmdSpoolDir=$tmp/spool
SlurmctldPidFile=$tmp/slurmctld.pid
SlurmdPidFile=$tmp/slurmd.pid
SlurmctldLogFile=$tmp/slurmctld.log
SlurmdLogFile=$tmp/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
MpiDefault=none
NodeName=$host CPUs=2 RealMemory=2000 State=UNKNOWN
PartitionName=tovimar Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF

slurmctld -i || fail "slurmctld did not start"
slurmd || fail "slurmd did not start"
state=""
for _ in $(seq 120); do
  state="$(sinfo -h -o %t 2>/dev/null | head -n 1)"
  [ "$state" = "idle" ] && break
  sleep 0.5
done
[ "$state" = "idle" ] || fail "the node did not become idle (sinfo says '${state:-nothing}')"

# The dataset on the cluster: scenes in one job, then three shards.
export TOVIMAR_BIN="$tmp/bin" DATASET="$tmp/dataset" PRESET=flying SEED=7 COUNT=6 FRAMES=2 RESOLUTION=64x48
export SCENEGEN_ARGS="--floor-chance 1" RENDER_ARGS=""
mkdir -p "$TOVIMAR_BIN"
ln -s "$render" "$TOVIMAR_BIN/tovimar-render"
ln -s "$scenegen" "$TOVIMAR_BIN/tovimar-scenegen"
job="$source_dir/scripts/slurm/generate.sbatch"
cd "$tmp/work" || fail "no work folder"
gen="$(sbatch --parsable --output="$tmp/scenes-%j.log" "$job" scenes)" || fail "sbatch of the scenes job failed"
sbatch --wait --dependency="afterok:$gen" --array=0-2 --output="$tmp/render-%A_%a.log" "$job" render >/dev/null ||
  fail "the render array job failed"
for i in 0 1 2; do
  [ -f "$DATASET/sequences/batch.shard-$i-of-3.json" ] || fail "shard $i wrote no summary"
done

# The same locally, in one process.
"$scenegen" --quiet --preset flying --seed 7 --count 6 --frames 2 --floor-chance 1 --out "$tmp/local/scenes" ||
  fail "local tovimar-scenegen failed"
diff -r "$tmp/local/scenes" "$DATASET/scenes" >/dev/null || fail "the cluster's scenes differ from local ones"
(env -u SLURM_ARRAY_TASK_ID -u SLURM_ARRAY_TASK_COUNT "$render" --quiet --resolution 64x48 \
  --out "$tmp/local/sequences" "$DATASET/scenes") || fail "the local render failed"
# meta.json records how and when each run went; it must say complete.
diff -r -x 'batch*.json' -x meta.json "$tmp/local/sequences" "$DATASET/sequences" ||
  fail "the cluster's files differ from a local run"
for meta in "$DATASET"/sequences/*/meta.json; do
  grep -q '"complete": true' "$meta" || fail "$meta does not record a complete sequence"
done
count="$(find "$DATASET/sequences" -name '*.bmp' | wc -l)"
[ "$count" -eq $((6 * 2 * 2 * 4)) ] || fail "expected 96 images, found $count"
echo "slurm test: 6 scenes, 3 array tasks, $count images equal to a local run"
