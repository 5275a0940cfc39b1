#!/usr/bin/env bash
# One row of the fault table: the real vekton in tmux against vekton-sim,
# one screen (main-menu choice) tried against each fault in turn.
#
# For every fault the screen is entered, driven to where it talks to the
# store, and the fault is injected through the simulator's control FIFO
# ("silent@entry": the store is silent before the choice is made; "none": a
# healthy store, the yardstick for the others). Then the console's processor
# use is measured for a moment, Esc is pressed (and Q at the quit question,
# and whatever key a result screen waits for) and the time until the main
# menu is back is taken. A case passes when the menu is
# back within FX_MENU_LIMIT_MS (2000) of the Esc, the processor use stayed
# below FX_CPU_LIMIT percent of a core (20) and the console still runs. At
# the end choice 0 must exit with 0 and leave the terminal as it found it.
#
# FX_TRANSPORT (pty, tcp or rfc2217; see fault.bash) picks the console's line:
# the simulator's pseudo-terminal, its raw TCP port, or ser2net with RFC 2217
# in front of the pseudo-terminal.
#
# "back": the port vanishes as in "vanish" and comes back a moment later
# (the simulator's new pseudo-terminal at the same link, its TCP port
# listening again, ser2net started again); the screen must say "Line lost"
# on row 1 meanwhile and go on by itself once the line is back, its waiting
# command sent (the simulator receives again) before the Esc.
#
# Prints one line per case: ROW <tab> FAULT <tab> PASS|FAIL <tab> ms <tab>
# cpu% <tab> note; the last line, fault "exit", is the terminal check.
# Exit status 1 when any case failed.
# Usage: [FX_TRANSPORT=...] row.sh <build dir> <row> [faults...]
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/fault.bash"
source "$HERE/screens.sh"

BUILD=${1:?usage: $0 <build dir> <row> [faults...]}
ROW=${2:?usage: $0 <build dir> <row> [faults...]}
shift 2
FAULTS=("$@")
(( ${#FAULTS[@]} )) || FAULTS=(none silent@entry silent garbage split vanish back)
MENU_LIMIT_MS=${FX_MENU_LIMIT_MS:-2000}
CPU_LIMIT=${FX_CPU_LIMIT:-20}
CPU_SECONDS=${FX_CPU_SECONDS:-1.2}

fx_row "$ROW" || exit 1
fault_init "$BUILD" "row${ROW//./_}-${FX_TRANSPORT:-pty}"

FAILED=0
report() {  # fault status ms cpu note
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$ROW" "$1" "$2" "$3" "$4" "$5"
  [[ $2 == PASS ]] || FAILED=1
}

# The screen and the cursor's row, taken once per look.
SCR=
CUR=
# One tmux call for both (the screen, then the cursor's row on a line of its
# own) and no other process, so that the harness answers a prompt about as
# fast as the program shows it, even on a busy machine. Sets NOW_MS too.
look() {
  local all row
  all=$(tmux -L "$SOCK" capture-pane -t "$SESSION" -p \; display -p -t "$SESSION" '#{cursor_y}' 2>/dev/null)
  now_ms
  row=${all##*$'\n'}
  [[ $row =~ ^[0-9]+$ ]] || row=-1
  SCR=${all%$'\n'*}
  local lines=()
  mapfile -t lines <<<"$SCR"
  CUR=${lines[row]:-}
}
seen() {
  if [[ $1 == @* ]]; then [[ $CUR == *"${1#@}"* ]]; else [[ $SCR == *"$1"* ]]; fi
}
menu_seen() { [[ $SCR == *"Enter [0..6]"* && $SCR != *"Open Comport   ->"* ]]; }

# Drives the screen from the menu choice to its store phase: answers each
# set-up prompt once, and stops at a working marker, at the injection prompt
# or at a screen that waits for a key to finish. False on time-out.
drive() {
  local limit=$1 deadline answered=() i p
  now_ms
  deadline=$(( NOW_MS + limit * 1000 ))
  for p in "${R_PROMPTS[@]}"; do answered+=(0); done
  local idle_since=
  while (( NOW_MS < deadline )); do
    look
    for p in "${R_WORKING[@]}"; do seen "$p" && return 0; done
    [[ -n $R_INJECT ]] && seen "$R_INJECT" && return 0
    for p in "${FX_LEAVE_KEYS[@]}"; do
      [[ $p == "@Select now|"* || $p == "@Quit/Term ?|"* ]] && continue
      seen "${p%%|*}" && return 0
    done
    for i in "${!R_PROMPTS[@]}"; do
      p=${R_PROMPTS[$i]}
      if (( ! answered[i] )) && seen "${p%%|*}"; then
        type_keys "${p#*|}"
        answered[i]=1
        idle_since=$NOW_MS
      fi
    done
    # No marker of its own: the last answer started the store phase.
    if (( ${#R_WORKING[@]} == 0 )) && [[ -z $R_INJECT && -n $idle_since ]]; then
      local all=1
      for i in "${!answered[@]}"; do (( answered[i] )) || all=0; done
      (( all && NOW_MS - idle_since > 500 )) && return 0
    fi
    sleep 0.02
  done
  return 1
}

# Esc, then whatever each screen on the way asks for, until the main menu
# is back. LEAVE_MS: the milliseconds from the Esc to the menu; LEAVE_LOG:
# the keys typed and when. False when the menu did not come back in 10 s.
LEAVE_LOG=
leave() {
  local t0 deadline acted=() i p rest need answered=""
  for p in "${FX_LEAVE_KEYS[@]}"; do acted+=(0); done
  LEAVE_LOG="Esc"
  # What waits for a key right now gets the Esc itself.
  look
  for i in "${!FX_LEAVE_KEYS[@]}"; do
    p=${FX_LEAVE_KEYS[$i]}
    [[ ${p#*|} == *"|"* ]] && continue
    if seen "${p%%|*}"; then
      acted[i]=1
      answered+="${p%%|*}"$'\n'
    fi
  done
  now_ms
  t0=$NOW_MS
  key Escape
  deadline=$(( t0 + 10000 ))
  while (( NOW_MS < deadline )); do
    look
    if menu_seen; then
      LEAVE_MS=$(( NOW_MS - t0 ))
      return 0
    fi
    for i in "${!FX_LEAVE_KEYS[@]}"; do
      p=${FX_LEAVE_KEYS[$i]}
      rest=${p#*|}
      need=
      [[ $rest == *"|"* ]] && { need=${rest#*|}; rest=${rest%%|*}; }
      [[ -n $need && $answered != *"$need"* ]] && continue
      if seen "${p%%|*}"; then
        if (( ! acted[i] )); then
          type_keys "$rest"
          LEAVE_LOG+=" $rest@$(( NOW_MS - t0 ))"
          answered+="${p%%|*}"$'\n'
          acted[i]=1
        fi
      else
        acted[i]=0  # gone: when it comes again, it is asked again
      fi
    done
    sleep 0.01
    now_ms
  done
  LEAVE_MS=$(( NOW_MS - t0 ))
  return 1
}

row1_lost() { screen | head -n 1 | grep -q 'Line lost'; }
rx_count() { grep -c ' RX ' "$TRACE" 2>/dev/null; }
rx_beyond() { (( $(rx_count) > $1 )); }

FX_SPEED=$R_SPEED fault_start_sim --plates "$R_PLATES" || { dump >&2; exit 1; }
start_console "$WORK"
to_menu
PTYS=1

for fault in "${FAULTS[@]}"; do
  name=${fault%@entry}
  note=""
  if [[ $fault == *@entry ]]; then
    inject_fault "$name"
    type_keys "$R_CHOICE<Enter>"
    # A screen facing a dead store from the start may never show its
    # working marker; it is tried for a few seconds as it is.
    drive 5 || note="no store phase; "
  else
    type_keys "$R_CHOICE<Enter>"
    if ! drive 15; then
      report "$fault" FAIL - - "did not reach its store phase: $(screen | tail -n 3 | tr -s ' ' | tr '\n' '/')"
      dump >&2
      break
    fi
    inject_fault "${name/back/vanish}"
  fi
  [[ -n $R_POKE ]] && type_keys "$R_POKE"
  if [[ $name == back ]]; then
    if ! wait_until 8 row1_lost; then
      report "$fault" FAIL - - "no 'Line lost' on row 1: $(screen | head -n 1 | tr -s ' ')"
      dump >&2
      break
    fi
    sleep 1
    inject_fault none
    [[ $FX_TRANSPORT == rfc2217 ]] || PTYS=$((PTYS + 1))
    wait_until 5 port_back "$PTYS" || { report "$fault" FAIL - - "the port did not come back"; break; }
    rx=$(rx_count)
    if ! wait_until 10 rx_beyond "$rx"; then
      report "$fault" FAIL - - "nothing sent once the line was back: $(screen | head -n 1 | tr -s ' ')"
      dump >&2
      break
    fi
    note="went on; "
  fi
  sleep 0.3
  cpu=$(cpu_percent "$CPU_SECONDS")
  if ! console_alive; then
    report "$fault" FAIL - - "the console ended (crash?): $(cat "$TMP/$SESSION.exit" 2>/dev/null)"
    break
  fi
  if ! leave; then
    report "$fault" FAIL "$LEAVE_MS" "$cpu" "${note}no menu within 10 s (keys: $LEAVE_LOG)"
    dump >&2
    break
  fi
  status=PASS
  (( LEAVE_MS <= MENU_LIMIT_MS )) || { status=FAIL; note+="menu after ${LEAVE_MS} ms; "; }
  awk -v c="$cpu" -v l="$CPU_LIMIT" 'BEGIN { exit !(c != "-" && c + 0 < l) }' \
    || { status=FAIL; note+="processor ${cpu}%; "; }
  report "$fault" "$status" "$LEAVE_MS" "$cpu" "${note}keys: $LEAVE_LOG"

  # The store as at the start: a fault cut short what it was doing and the
  # commands sent meanwhile were lost, so the plates may lie anywhere, an
  # error may stand and a component test may still be switched on.
  inject_fault none || { report "$fault" FAIL - - "the line did not come back"; break; }
  control "exec ST 1900"
  control "exec RS 1401"
  control "exec RS 1402"
  control "exec WR DM123 0"
  control "plates $R_PLATES"
  if [[ $name == vanish ]]; then
    [[ $FX_TRANSPORT == rfc2217 ]] || PTYS=$((PTYS + 1))
    wait_until 5 port_back "$PTYS" || { report "$fault" FAIL - - "the port did not come back"; break; }
  fi
done

if console_alive && menu_ready; then
  if why=$(quit_console); then
    report exit PASS - - "exit 0, terminal restored"
  else
    report exit FAIL - - "$why"
  fi
else
  report exit FAIL - - "not at the menu at the end"
fi
exit $FAILED
