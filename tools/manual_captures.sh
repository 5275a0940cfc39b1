#!/usr/bin/env bash
# The screens in the technician's manual (docs/MANUAL.md) are taken from the
# program: tools/manual_captures.cpp runs the console in-process on the
# virtual platform against the simulated store and writes each screen as
# text. In the manual each capture stands between two markers:
#
#   <!-- capture: NAME -->
#   ```text
#   ... the screen, 25 rows ...
#   ```
#   <!-- end capture -->
#
# Usage: tools/manual_captures.sh [--check | --update] [build dir]
#   --check   (default) regenerate the captures and compare them with the
#             manual's; any difference is printed as a diff and the status is 1
#   --update  write the regenerated captures into the manual
#   build dir default: build (the manual_captures target is built there
#             unless the program is up to date already)
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

MODE=check
BUILD=
while (( $# )); do
  case $1 in
    --check) MODE=check; shift ;;
    --update) MODE=update; shift ;;
    -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "manual_captures.sh: unknown option $1" >&2; exit 2 ;;
    *) BUILD=$1; shift ;;
  esac
done
BUILD=${BUILD:-build}
[[ $BUILD = /* ]] || BUILD=$ROOT/$BUILD

if [[ ! -d $BUILD ]]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja >/dev/null || exit 1
fi
cmake --build "$BUILD" --target manual_captures >/dev/null || {
  echo "manual_captures.sh: cannot build manual_captures in $BUILD" >&2
  exit 1
}

OUT=$(mktemp -d "${TMPDIR:-/tmp}/vekton-captures.XXXXXX")
trap 'rm -rf "$OUT"' EXIT
"$BUILD/tests/manual_captures" "$OUT" || exit 1

python3 - "$MODE" "$ROOT/docs/MANUAL.md" "$OUT" <<'EOF'
import difflib, os, re, sys

mode, manual, outdir = sys.argv[1:4]
text = open(manual, encoding="utf-8").read()
made = {f[:-4]: open(os.path.join(outdir, f), encoding="utf-8").read()
        for f in sorted(os.listdir(outdir)) if f.endswith(".txt")}

block = re.compile(r"(<!-- capture: ([a-z0-9-]+) -->\n)(.*?)(<!-- end capture -->)", re.S)
seen, failed = set(), False

def body(screen):
    return "```text\n" + screen + "```\n"

def replace(m):
    global failed
    name = m.group(2)
    seen.add(name)
    if name not in made:
        print(f"docs/MANUAL.md: capture '{name}' is not made by tools/manual_captures.cpp")
        failed = True
        return m.group(0)
    want = body(made[name])
    if m.group(3) != want and mode == "check":
        failed = True
        print(f"--- capture '{name}': the manual shows something else than the program")
        sys.stdout.writelines(difflib.unified_diff(
            m.group(3).splitlines(True), want.splitlines(True),
            f"docs/MANUAL.md ({name})", f"the program ({name})"))
    return m.group(1) + want + m.group(4)

new = block.sub(replace, text)
for name in made:
    if name not in seen:
        print(f"docs/MANUAL.md: no place for capture '{name}' (<!-- capture: {name} -->)")
        failed = True

if mode == "update":
    if new != text:
        open(manual, "w", encoding="utf-8").write(new)
        print("docs/MANUAL.md: captures updated")
    else:
        print("docs/MANUAL.md: captures already up to date")
    sys.exit(1 if failed else 0)

if failed:
    print("\nThe manual's screens no longer match the program. Update them with:\n"
          "  tools/manual_captures.sh --update [build dir]\nand read the text around them again.")
    sys.exit(1)
print(f"docs/MANUAL.md: all {len(made)} captures match the program")
EOF
