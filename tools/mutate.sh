#!/usr/bin/env bash
# Mutation check: puts small faults into a scratch copy of the tree one at a time and tells
# whether the test suite notices each. Never builds in, or edits, the working tree.
#
#   tools/mutate.sh [options] [MUTANTS_FILE]        (default: tools/mutants.txt)
#   tools/mutate.sh --random N [--seed S] [--files GLOB] [options]
#
#   --random N      N mutants drawn at random over the code under src/ by
#                   tools/randmutants.py (an operator changes one line: a comparison, an
#                   integer, && and ||, a condition negated, a call deleted, a returned value
#                   made its type's default, + and -, break and continue), each run against the
#                   whole suite: first the tests of the mutated file's part (tests/core,
#                   tests/cli or tests/gui), then the rest, stopping at the first failure. A
#                   mutant that does not build is skipped and the next one drawn takes its
#                   place. The seed is printed; the same seed over the same tree draws the same
#                   mutants. A survivor that compiles to the same machine code as the unmutated
#                   tree (its rebuilt objects, stripped of debug information, are byte for byte
#                   the same) is named as equivalent and left out of the score, as is one in a
#                   branch of #if not built here. The threshold is 90 unless --threshold says
#                   otherwise.
#   --seed S        the seed for --random (default: a new one, printed)
#   --files GLOBS   --random draws only from these files, e.g. 'src/cli/*' or
#                   'src/core/picture/pngreader.cpp,src/cli/args.cpp' (commas between globs)
#   --since REV     --random draws only from the files under src/ changed since the commit REV
#                   (what a change's note reports on)
#   --test-jobs N   tests run at once in a mutant's run (4: most tests wait more than they compute)
#   --check         only check that each mutant applies to the working tree (its search
#                   occurs exactly once); builds and runs nothing
#   --keep DIR      work in DIR and keep it: a later run re-syncs the tree into it and
#                   builds incrementally instead of from scratch (default: a fresh folder
#                   under /tmp, removed at the end)
#   --only LIST     run only these mutants, by number: 3,7-9
#   --all-tests     run the whole suite for every mutant, not only the tests it names
#   --threshold N   exit non-zero when the score is below N percent (95)
#   --jobs N        build jobs (2)
#   --run-limit S   seconds one mutant's test run may take in all (600); each test is also
#                   bounded by its CTest TIMEOUT, or 60 s where it has none
#   --exclude RE    tests never run for a mutant (default: the smoke test under Xvfb and the
#                   fuzz replay's self-tests of its own limits, which exercise no product code)
#
# The mutants file has one mutant a line, FILE | TESTS | SEARCH => REPLACE; see
# tools/mutants.txt. Exit code: 0 when the score reaches the threshold and every mutant
# applied, 1 otherwise, 2 when the unmutated tree does not build or pass.
set -uo pipefail

# Bash reads a script as it runs: a run goes on from a copy, so that editing this file
# meanwhile cannot change what a run half-way through does.
if [ -z "${PW_MUTATE_ROOT:-}" ]; then
  PW_MUTATE_ROOT=$(cd "$(dirname "$0")/.." && git rev-parse --show-toplevel) || exit 2
  copy=$(mktemp /tmp/pixelwright-mutate-script.XXXXXX) && cp "$0" "$copy" || exit 2
  PW_MUTATE_ROOT=$PW_MUTATE_ROOT PW_MUTATE_COPY=$copy exec bash "$copy" "$@"
fi
root=$PW_MUTATE_ROOT
rm -f "${PW_MUTATE_COPY:-}"
mutants=""
keep=""
only=""
all_tests=0
check=0
threshold=""
jobs=2
run_limit=600
exclude='^(smoke_shell|fuzz_replay_limits_.*)$'
random_count=0
seed=""
files_glob=""
since=""
test_jobs=4

usage() { sed -n '2,/^set -uo/p' "$root/tools/mutate.sh" | sed '$d; s/^# \{0,1\}//'; exit "${1:-0}"; }
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) keep=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --all-tests) all_tests=1; shift ;;
    --check) check=1; shift ;;
    --threshold) threshold=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --run-limit) run_limit=$2; shift 2 ;;
    --exclude) exclude=$2; shift 2 ;;
    --random) random_count=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --files) files_glob=$2; shift 2 ;;
    --since) since=$2; shift 2 ;;
    --test-jobs) test_jobs=$2; shift 2 ;;
    -h|--help) usage 0 ;;
    -*) echo "mutate.sh: unknown option $1" >&2; usage 1 >&2 ;;
    *) mutants=$1; shift ;;
  esac
done
if [ "$random_count" -gt 0 ]; then
  [ -z "$mutants" ] || { echo "mutate.sh: --random takes no mutants file" >&2; exit 2; }
  if [ -n "$since" ]; then
    files_glob=$(git -C "$root" diff --name-only "$since" -- src | paste -sd, -) || exit 2
    [ -n "$files_glob" ] || { echo "mutate.sh: nothing under src/ changed since $since" >&2; exit 2; }
  fi
  seed=${seed:-$(( $(od -An -N4 -tu4 /dev/urandom) % 1000000 ))}
  threshold=${threshold:-90}
else
  mutants=$(realpath "${mutants:-$root/tools/mutants.txt}") || exit 2
  [ -f "$mutants" ] || { echo "mutate.sh: $mutants: no such file" >&2; exit 2; }
  threshold=${threshold:-95}
fi

if [ "$check" -eq 1 ]; then
  work=$(mktemp -d /tmp/pixelwright-mutate.XXXXXX) || exit 2
elif [ -n "$keep" ]; then
  mkdir -p "$keep" && work=$(realpath "$keep") || exit 2
else
  work=$(mktemp -d /tmp/pixelwright-mutate.XXXXXX) || exit 2
fi
tree=$work/tree build=$work/build logs=$work/logs
[ "$check" -eq 1 ] && keep="" tree=$root
mkdir -p "$tree" "$logs" "$work/saved"
# One run at a time in a kept folder: a second would sync over the first's mutated file, and
# the first, ending, would put its saved original back over the wrong one.
if [ -n "$keep" ] && command -v flock >/dev/null; then
  exec 9>"$work/lock"
  flock -n 9 || { echo "mutate.sh: another run is using $work; stop it (its process group) or keep another folder" >&2; exit 2; }
fi

# What is mutated now, so that an interruption still puts it back.
current=""
group=""
cleanup() {
  [ -n "$group" ] && kill -KILL -- "-$group" 2>/dev/null
  [ -n "$current" ] && cp "$work/saved/original" "$tree/$current"
  [ -z "$keep" ] && rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The tracked files of the working tree as they are now (and new ones not ignored). Only
# files whose content differs are copied, so that a kept build stays incremental.
sync_tree() {
  local list=$work/files.txt
  git -C "$root" ls-files --cached --others --exclude-standard | sort -u >"$list"
  while IFS= read -r f; do
    [ -e "$root/$f" ] || [ -L "$root/$f" ] || continue
    if ! cmp -s "$root/$f" "$tree/$f" 2>/dev/null; then
      mkdir -p "$tree/$(dirname "$f")"
      cp -P --preserve=mode "$root/$f" "$tree/$f"
    fi
  done <"$list"
  (cd "$tree" && find . -type f -o -type l | sed 's|^\./||' | sort) | comm -23 - "$list" |
    while IFS= read -r gone; do rm -f "$tree/$gone"; done
}

build_tree() {  # $1: log file, then the targets (none: everything)
  local log=$1 targets=()
  shift
  [ $# -gt 0 ] && targets=(--target "$@")
  timeout -k 10 3600 cmake --build "$build" -j "$jobs" "${targets[@]}" </dev/null >"$log" 2>&1
}

# The build targets of the tests matching $1, so that a mutant rebuilds only what its tests
# run; nothing (everything) for the whole suite or a test of another kind.
targets_for() {
  [ -n "$1" ] || return 0
  local names name out=()
  names=$(ctest --test-dir "$build" -N -R "$1" -E "$exclude" | sed -n 's/^ *Test *#[0-9]*: //p')
  for name in $names; do
    case "$name" in
      tst_*) out+=("$name") ;;
      fuzz_replay_limits_*) out+=(replay_limits_selftest) ;;
      fuzz_replay_*) out+=("replay_${name#fuzz_replay_}") ;;
      *) return 0 ;;
    esac
  done
  printf '%s\n' "${out[@]}" | sort -u
}

# Runs the tests matching $1 (empty: all) in their own process group, bounded, and sets
# `failed` to the first test that failed, or to nothing when all passed. Whatever a test left
# running is ended with the group.
run_tests() {  # $3: tests left out besides --exclude
  local regex=$1 log=$2 rc
  local args=(--test-dir "$build" --timeout 60 --stop-on-failure --output-on-failure --parallel "$test_jobs"
              -E "$exclude${3:+|$3}")
  [ -n "$regex" ] && args+=(-R "$regex")
  QT_QPA_PLATFORM=offscreen timeout -k 10 "$run_limit" ctest "${args[@]}" </dev/null >"$log" 2>&1 &
  group=$!
  wait "$group"
  rc=$?
  kill -KILL -- "-$group" 2>/dev/null
  group=""
  failed=""
  if [ "$rc" -eq 124 ] || [ "$rc" -eq 137 ]; then
    failed="the whole run (over $run_limit s)"
  elif [ "$rc" -ne 0 ]; then
    failed=$(sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (\(.*\))$/\1 (\2)/p' "$log" | head -n 1)
    failed=${failed:-ctest exit $rc}
  elif grep -q "No tests were found" "$log"; then
    failed="no test matched '$regex'"
  fi
}

# As run_tests, but a test that fails is run once more alone: a failure that does not repeat
# is a test upset by the load on the machine, not a mutant found; it is named in the report and
# the run goes on without it.
run_confirmed() {  # $1: regex, $2: log, $3: tests left out
  local regex=$1 log=$2 out=${3:-} name first
  for _ in 1 2 3; do
    run_tests "$regex" "$log" "$out"
    name=${failed%% *}
    case "$failed" in ""|"the whole run"*|"ctest exit"*|"no test matched"*) return ;; esac
    first=$failed
    cp "$log" "$log.first-failure"  # the next round writes over $log; a flaky test's output is kept
    run_tests "^${name}\$" "$log.again"
    [ -n "$failed" ] && { failed=$first; return; }
    flaky+=("$label: $first, passed when run again")
    echo "$label  $name failed once and passed when run again: taken as passed" >&2
    out="${out:+$out|}^${name}\$"
  done
}

wanted() {  # $1: mutant number; true when --only names it (or is not given)
  [ -z "$only" ] && return 0
  local part
  for part in ${only//,/ }; do
    case "$part" in
      *-*) [ "$1" -ge "${part%-*}" ] && [ "$1" -le "${part#*-}" ] && return 0 ;;
      *) [ "$1" -eq "$part" ] && return 0 ;;
    esac
  done
  return 1
}

trim() { local s=$1; s=${s#"${s%%[![:space:]]*}"}; printf '%s' "${s%"${s##*[![:space:]]}"}"; }

start=$(date +%s)
if [ "$random_count" -gt 0 ]; then
  echo "mutants: $random_count at random, seed $seed (the same again: --random $random_count --seed $seed${files_glob:+ --files '$files_glob'})"
else
  echo "mutants: $mutants"
fi
if [ "$check" -eq 0 ]; then
echo "work folder: $work${keep:+ (kept)}"
sync_tree
# Each mutant of the core relinks every program and test: lld does that three times faster
# than the default linker, where it is installed.
# The replay's bound of 5 s an input is for a machine doing one thing; mutants share theirs.
link_flags=""
command -v ld.lld >/dev/null && link_flags=-fuse-ld=lld
if [ ! -f "$build/CMakeCache.txt" ] || ! grep -qx "CMAKE_EXE_LINKER_FLAGS:STRING=$link_flags" "$build/CMakeCache.txt" \
   || ! grep -qx "PW_FUZZ_TIMEOUT:STRING=30" "$build/CMakeCache.txt" || [ ! -f "$build/compile_commands.json" ]; then
  cmake -S "$tree" -B "$build" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
    -DCMAKE_EXE_LINKER_FLAGS="$link_flags" -DPW_FUZZ_TIMEOUT=30 -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    >"$logs/configure.log" 2>&1 || { echo "the unmutated tree does not configure: $logs/configure.log"; keep=${keep:-$work}; exit 2; }
fi
echo "building the unmutated tree..."
build_tree "$logs/build.log" || { echo "the unmutated tree does not build: $logs/build.log"; keep=${keep:-$work}; exit 2; }
# A mutant that compiles to the same machine code as the unmutated tree cannot change what
# the program does, whatever its text says (a `return {};` for an enum whose first value is
# what it returned, a store the optimiser drops): a survivor whose rebuilt object files all
# match the unmutated ones once debug information is stripped is named as equivalent.
# The sums of the unmutated objects are taken once, here.
object_sum() { objcopy --strip-debug "$1" "$work/saved/stripped.o" 2>/dev/null && sha1sum <"$work/saved/stripped.o" | cut -c1-40; }
if command -v objcopy >/dev/null; then
  echo "summing the unmutated objects..."
  (cd "$build" && find . -name '*.o' | sort) | while IFS= read -r o; do
    printf '%s %s\n' "$(object_sum "$build/$o")" "$o"
  done >"$work/saved/objects.sum"
fi
echo "running the unmutated suite..."
run_tests "" "$logs/baseline.log"
if [ -n "$failed" ]; then
  echo "the unmutated suite fails ($failed): $logs/baseline.log"
  keep=${keep:-$work}
  exit 2
fi
fi

# A mutant in a branch of #if that this platform does not build (the Windows code) cannot
# change anything: its file preprocesses to the same text as the unmutated one. It is named
# as equivalent instead of run. Only files with such branches are preprocessed.
preprocessed() {  # $1: a file under the tree; its text after the preprocessor, as the build compiles it
  python3 -c '
import json, shlex, subprocess, sys
for entry in json.load(open(sys.argv[1])):
    if entry["file"] == sys.argv[2]:
        words, out, skip = shlex.split(entry["command"]), [], False
        for w in words:
            if skip:
                skip = False
            elif w == "-o":
                skip = True
            elif w != "-c":
                out.append(w)
        out[-1:-1] = ["-E", "-P"]
        sys.exit(subprocess.run(out, cwd=entry["directory"], stderr=subprocess.DEVNULL).returncode)
sys.exit(1)' "$build/compile_commands.json" "$tree/$1"
}
has_branches() { case "$1" in *.cpp) grep -qE '^[[:space:]]*#[[:space:]]*(if|ifdef|ifndef|elif|else)([^a-z]|$)' "$tree/$1" ;; *) false ;; esac; }

# True when every object the mutant's builds rebuilt is, stripped of debug information, the
# same as the unmutated tree's. After the whole build an object that differs from the
# unmutated one must have been rebuilt since the mutant went in, so only those are summed.
same_objects() {
  [ -s "$work/saved/objects.sum" ] || return 1
  local o sum
  while IFS= read -r o; do
    sum=$(object_sum "$build/$o") || return 1
    grep -qxF "$sum $o" "$work/saved/objects.sum" || return 1
  done < <(cd "$build" && find . -name '*.o' -newer "$work/saved/stamp")
  return 0
}

# Puts the mutated file back and names the mutant as equivalent, for the reason $1.
name_equivalent() {
  cp "$work/saved/original" "$tree/$file"
  current=""
  equivalent=$((equivalent + 1))
  equivalents+=("$label $shown ($1)")
  echo "$label  EQUIVALENT: $1  [$(($(date +%s) - t0)) s]  $shown"
}

# The tests of one part of the code (core, cli, gui) as a CTest regular expression.
part_tests() {
  [ -d "$build/tests/$1" ] || return 0
  ctest --test-dir "$build/tests/$1" -N | sed -n 's/^ *Test *#[0-9]*: //p' | paste -sd'|' | sed 's/.*/^(&)$/'
}

if [ "$random_count" -gt 0 ]; then
  mutants=$work/random-$seed.txt
  # A pool larger than the run: the mutants that do not build are replaced from it.
  python3 "$root/tools/randmutants.py" --seed "$seed" --count $((random_count * 3)) \
    ${files_glob:+--files "$files_glob"} "$tree" >"$mutants" || exit 2
  all_tests=1
  declare -A part_regex
  for part in core cli gui; do part_regex[$part]=$(part_tests "$part"); done
fi

total=0 killed=0 survived=0 bad=0 n=0 skipped=0 equivalent=0
survivors=()
equivalents=()
flaky=()
desc=""
while IFS= read -r line <&3 || [ -n "$line" ]; do
  line=$(trim "$line")
  case "$line" in
    '# @ '*) desc=${line#\# @ }; continue ;;
    ''|'#'*) continue ;;
  esac
  [ "$random_count" -gt 0 ] && [ "$total" -ge "$random_count" ] && break
  n=$((n + 1))
  wanted "$n" || continue
  [ "$random_count" -gt 0 ] || total=$((total + 1))
  label=$(printf 'M%02d' "$n")
  search=""
  if [[ "$line" == *' => '* || "$line" == *' =>' ]]; then
    file=$(trim "${line%% | *}")
    rest=${line#* | }
    tests=$(trim "${rest%% | *}")
    change=${rest#* | }
    if [ "$file" = "$line" ] || [ "$tests" = "$rest" ]; then
      change=""
    fi
    case "$change" in
      *' => '*) search=$(trim "${change%% => *}") replace=$(trim "${change#* => }") ;;
      *' =>') search=$(trim "${change% =>}") replace="" ;;
    esac
  else
    # Also taken: FILE|SEARCH|REPLACE|TESTS, where neither text holds a '|'.
    IFS='|' read -ra parts <<<"$line"
    if [ ${#parts[@]} -eq 3 ] || [ ${#parts[@]} -eq 4 ]; then
      file=$(trim "${parts[0]}") search=$(trim "${parts[1]}") replace=$(trim "${parts[2]}") tests=$(trim "${parts[3]:-*}")
    fi
  fi
  if [ -z "$search" ]; then
    echo "$label  bad mutant: neither FILE | TESTS | SEARCH => REPLACE nor FILE|SEARCH|REPLACE|TESTS: $line"
    bad=$((bad + 1))
    continue
  fi
  if [ "$tests" = "*" ] || [ "$all_tests" -eq 1 ]; then tests=""; fi
  shown="$file: '$search' -> '$replace'"
  if [ ! -f "$tree/$file" ]; then
    echo "$label  bad mutant: no file $file"
    bad=$((bad + 1))
    continue
  fi
  if [ "$check" -eq 1 ]; then
    count=$(MUT_SEARCH=$search perl -0777 -ne '
      BEGIN { $s = $ENV{MUT_SEARCH}; $s =~ s/\xe2\x8f\x8e/\n/g; }
      $n = () = /\Q$s\E/g; print $n + 0' "$tree/$file")
    if [ "$count" = "1" ]; then echo "$label  applies  $shown"; else echo "$label  bad mutant: the search occurs $count times: $shown"; bad=$((bad + 1)); fi
    continue
  fi
  cp "$tree/$file" "$work/saved/original"
  current=$file
  rm -f "$work/saved/preprocessed"
  [ "$random_count" -gt 0 ] && has_branches "$file" && preprocessed "$file" >"$work/saved/preprocessed" 2>/dev/null
  # Literal text; ⏎ stands for a line break. The search must occur exactly once.
  count=$(MUT_SEARCH=$search MUT_REPLACE=$replace perl -0777 -i -pe '
    BEGIN { ($s, $r) = ($ENV{MUT_SEARCH}, $ENV{MUT_REPLACE}); s/\xe2\x8f\x8e/\n/g for $s, $r; }
    $n = () = /\Q$s\E/g;
    s/\Q$s\E/$r/ if $n == 1;
    END { print STDERR $n + 0 }' "$tree/$file" 2>&1 >/dev/null)
  if [ "$count" != "1" ]; then
    cp "$work/saved/original" "$tree/$file"
    current=""
    echo "$label  bad mutant: the search occurs ${count:-?} times in $file: '$search'"
    bad=$((bad + 1))
    continue
  fi
  t0=$(date +%s)
  touch "$work/saved/stamp"
  [ -n "$desc" ] && shown=$desc
  desc=""
  [ "$random_count" -gt 0 ] || mapfile -t targets < <(targets_for "$tests")
  if [ "$random_count" -gt 0 ]; then
    # The tests of the mutated part first, built alone; then the rest of the suite.
    part=${file#src/}; part=${part%%/*}
    first=${part_regex[$part]:-}
    mapfile -t targets < <(targets_for "$first")
    if ! build_tree "$logs/$label-build.log" "${targets[@]}"; then
      cp "$work/saved/original" "$tree/$file"
      current=""
      skipped=$((skipped + 1))
      echo "$label  skipped: does not build  $shown"
      continue
    fi
    total=$((total + 1))
    if [ -s "$work/saved/preprocessed" ] && preprocessed "$file" 2>/dev/null | cmp -s - "$work/saved/preprocessed"; then
      name_equivalent "in a branch of #if not built here"
      continue
    fi
    failed=""
    [ -n "$first" ] && run_confirmed "$first" "$logs/$label-test.log"
    if [ -z "$failed" ] && [ -n "$first" ] && ! build_tree "$logs/$label-build2.log"; then
      failed="the build of the other tests"
    elif [ -z "$failed" ]; then
      run_confirmed "" "$logs/$label-test2.log" "$first"
    fi
    if [ -z "$failed" ] && same_objects; then
      name_equivalent "compiles to the same machine code"
      continue
    fi
    case "$failed" in
      "") verdict="SURVIVED"; survived=$((survived + 1)); survivors+=("$label $shown") ;;
      *) verdict="killed by $failed"; killed=$((killed + 1)) ;;
    esac
  elif ! build_tree "$logs/$label-build.log" "${targets[@]}"; then
    verdict="killed (build)"
    killed=$((killed + 1))
  else
    run_confirmed "$tests" "$logs/$label-test.log"
    # Only a mutant run against a whole build can be compared object by object.
    if [ -z "$failed" ] && [ -z "$tests" ] && same_objects; then
      failed="equivalent"
    fi
    case "$failed" in
      "equivalent") verdict="EQUIVALENT: compiles to the same machine code"; equivalent=$((equivalent + 1))
                    equivalents+=("$label $shown (compiles to the same machine code)") ;;
      "") verdict="SURVIVED"; survived=$((survived + 1)); survivors+=("$label $shown") ;;
      "no test matched"*) verdict="bad mutant: $failed"; bad=$((bad + 1)) ;;
      *) verdict="killed by $failed"; killed=$((killed + 1)) ;;
    esac
  fi
  # Put back; the next build recompiles it along with the next mutant.
  cp "$work/saved/original" "$tree/$file"
  current=""
  echo "$label  $verdict  [$(($(date +%s) - t0)) s]  $shown"
done 3<"$mutants"

if [ "$check" -eq 1 ]; then
  echo "$total mutants, $bad bad"
  [ "$bad" -eq 0 ]
  exit
fi
score=0
counted=$((total - equivalent))
[ "$counted" -gt 0 ] && score=$(awk -v k="$killed" -v t="$counted" 'BEGIN { printf "%.1f", 100 * k / t }')
echo
[ ${#survivors[@]} -gt 0 ] && printf 'survived: %s\n' "${survivors[@]}"
[ ${#equivalents[@]} -gt 0 ] && printf 'equivalent: %s\n' "${equivalents[@]}"
[ ${#flaky[@]} -gt 0 ] && printf 'failed once only: %s\n' "${flaky[@]}"
[ "$random_count" -gt 0 ] && echo "seed $seed: $total mutants built and run ($random_count asked), $skipped more drawn that do not build"
[ "$random_count" -gt 0 ] && [ "$total" -lt "$random_count" ] && echo "the pool ran out: fewer mutants than asked"
echo "score: $killed of $counted mutants killed ($score%), $survived survived, $equivalent equivalent left out, $bad bad; threshold $threshold%; $(( ($(date +%s) - start + 59) / 60 )) min"
awk -v s="$score" -v t="$threshold" 'BEGIN { exit !(s >= t) }' && [ "$bad" -eq 0 ]
