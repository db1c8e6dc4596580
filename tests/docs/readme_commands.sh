#!/usr/bin/env bash
# Runs the commands the README shows in its ```sh blocks, so that none goes
# stale. Lines that run a script of scripts/ are the demo and the test command
# themselves; the lines that install packages and build for users are run by
# scripts/check-user-build on a bare system. The rest run here, in order, in a
# scratch folder where build/demo is the build under test and lumaflick and
# insim-screen are on the PATH; a playback meant for a real LFS gets the
# stand-in instead.
#   readme_commands.sh README.md BUILD_DIR
set -euo pipefail

readme=$1
build=$(cd "$2" && pwd)
source_dir=$(cd "$(dirname "$readme")" && pwd)

mapfile -t lines < <(awk '/^```sh$/ { on = 1; next } /^```/ { on = 0 } on && NF && !/^#/' "$readme")
if ((${#lines[@]} == 0)); then
  echo "no commands found in $readme" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/readme-commands.XXXXXX")
pids=()
cleanup() {
  for pid in ${pids[@]+"${pids[@]}"}; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/bin" "$work/build"
ln -s "$build/src/lumaflick" "$work/bin/lumaflick"
ln -s "$build/tools/insim-screen/insim-screen" "$work/bin/insim-screen"
ln -s "$build" "$work/build/demo"
export PATH=$work/bin:$PATH
cd "$work"

# A stand-in LFS with the README's password on the default port, until its client leaves.
stand_in() {
  insim-screen --password secret >"$work/stand-in.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    grep -q listening "$work/stand-in.log" 2>/dev/null && return
    sleep 0.1
  done
  echo "the stand-in LFS did not start" >&2
  exit 1
}

# What went to the background ends once its client has gone: wait for it, a
# while, so that the next command finds the port free.
finish_background() {
  for pid in ${pids[@]+"${pids[@]}"}; do
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  pids=()
}

# The clip first: the commands before it play it.
ordered=()
for line in "${lines[@]}"; do [[ $line == ffmpeg\ * ]] && ordered+=("$line"); done
for line in "${lines[@]}"; do [[ $line == ffmpeg\ * ]] || ordered+=("$line"); done

ran=0
for line in "${ordered[@]}"; do
  case $line in
    scripts/*)
      [[ -x $source_dir/${line%% *} ]] || { echo "not a script: $line" >&2; exit 1; }
      continue ;;
    "sudo apt-get install "* | "cmake "*)
      grep -q 'README' "$source_dir/scripts/check-user-build" || { echo "not checked: $line" >&2; exit 1; }
      continue ;;
    lumaflick\ *) stand_in ;;
  esac
  echo "\$ $line"
  status=0
  if [[ $line == *'&'* ]]; then
    # Started in the background here, so that it is ended should its client never come.
    eval "$line" || status=$?
    pids+=($!)
  else
    timeout 60 bash -c "$line" || status=$?
    finish_background
  fi
  if ((status != 0)); then
    echo "failed with status $status: $line" >&2
    exit 1
  fi
  ran=$((ran + 1))
done
finish_background
echo "$ran README commands ran"
