# What each row of the fault table does: how a screen is entered and driven
# to the phase where it talks to the store, and the keys that bring the
# operator back from wherever a fault left him. Sourced by row.sh.
#
# A marker starting with "@" counts only on the cursor's row: the program
# waits for a key right behind it. Answers are typed with type_keys (<Enter>
# and <Esc> for those keys).

FX_ROWS=(1 2 3 3B 4 5.1 5.2 5.4 5.5 5.6 5.7 5.8 5.9 6 7 8 S)
# The rows also run over the network transports (raw TCP, RFC 2217 through
# ser2net): the direct commands, the flag monitor, a component test and the
# random-access test. Every row over three transports would take the table
# past five minutes on two cores. FX_NET_ROWS from the environment wins.
[[ -v FX_NET_ROWS ]] || FX_NET_ROWS=(1 2 5.4 7)

# Sets, for one row:
#   R_TITLE    what the row is, for the table
#   R_CHOICE   the main-menu choice
#   R_PROMPTS  set-up prompts and their answers ("marker|keys")
#   R_WORKING  markers that show the screen at work with the store (empty:
#              the last set-up answer starts it)
#   R_INJECT   a prompt to inject the fault at, before its short store
#              phase (empty: inject once the screen is at work)
#   R_POKE     keys typed right after the fault is injected
#   R_SPEED    the simulator's speed: slow enough that the screen is still
#              at work when the fault comes
#   R_PLATES   the plates the store holds at the start of each case
fx_row() {
  R_SPEED=10
  R_PLATES=one
  R_PROMPTS=()
  R_WORKING=()
  R_INJECT=
  R_POKE=
  case $1 in
    1) R_TITLE="Direct commands"; R_CHOICE=1
       R_WORKING=("Enter direct commands to KV-PLC")
       R_POKE="RD DM0<Enter>" ;;
    2) R_TITLE="Monitor flags"; R_CHOICE=2
       R_WORKING=("Rot.Pos. DM01") ;;
    3) R_TITLE="Macros, key A"; R_CHOICE=3
       R_WORKING=("Please Select ->")
       R_POKE="A" ;;
    3B) R_TITLE="Macros, guided put (B)"; R_CHOICE=3
       R_WORKING=("Please Select ->")
       R_POKE="B" ;;
    4) R_TITLE="Teach positioning times"; R_CHOICE=4; R_SPEED=2
       R_WORKING=("Pos.  1  OK") ;;
    5.1) R_TITLE="Component: carrousel"; R_CHOICE=5
       R_PROMPTS=("@Select now|1" "@Enter Pause range|0<Enter>")
       R_WORKING=(" Pth: ") ;;
    5.2) R_TITLE="Component: plate"; R_CHOICE=5; R_SPEED=1
       R_PROMPTS=("@Select now|2") ;;
    5.4) R_TITLE="Component: lift"; R_CHOICE=5
       R_PROMPTS=("@Select now|4" "@Enter Path|100<Enter>" "@Enter Pause|0<Enter>")
       R_WORKING=("     1 OK") ;;
    5.5) R_TITLE="Component: gate"; R_CHOICE=5
       R_PROMPTS=("@Select now|5" "@Enter Pause [s]|0<Enter>" "@Enter Open Time|0<Enter>")
       R_WORKING=("     1 OK") ;;
    # No marker: the shovel and turn tests write nothing until their timer
    # or relay says the part is at rest, and a fault in the last case may
    # have left it moving; the wait for it is their store phase too.
    5.6) R_TITLE="Component: shovel"; R_CHOICE=5
       R_PROMPTS=("@Select now|6" "@Enter Delay|0<Enter>") ;;
    5.7) R_TITLE="Component: turn"; R_CHOICE=5
       R_PROMPTS=("@Select now|7" "@Enter Delay|0<Enter>") ;;
    5.8) R_TITLE="Component: error counters"; R_CHOICE=5
       R_PROMPTS=("@Select now|8")
       R_INJECT="@Reset Counter [Y/N]"
       R_POKE="Y" ;;
    5.9) R_TITLE="Component: SMC 1"; R_CHOICE=5
       R_PROMPTS=("@Select now|9" "@Enter Path|100<Enter>" "@Enter Pause|0<Enter>")
       R_WORKING=("     1 OK") ;;
    6) R_TITLE="All-slots test"; R_CHOICE=6
       R_PROMPTS=("@Standard Test [Y/Q/N]|Y" "@Inverse Mode [Y/N]|N")
       R_WORKING=("Cyc ") ;;
    7) R_TITLE="Random-access test"; R_CHOICE=7
       R_PROMPTS=("@Standard Test [Y/N]|Y" "@Enter Interval Time (>1sec)|1<Enter>" "@Invers. Mode [Y/N]|N")
       R_WORKING=("Saving Data to File:" "At ") ;;
    8) R_TITLE="Three-plate test"; R_CHOICE=8; R_PLATES=three
       R_WORKING=("OK OK OK") ;;
    S) R_TITLE="Service statistics"; R_CHOICE=S
       R_INJECT="@Enter Passord"
       R_POKE="QZRB<Enter>" ;;
    *) echo "unknown row $1" >&2; return 1 ;;
  esac
}

# Screens that wait for a key once they are done, or prompts a fault can
# leave the operator at, and the key that moves on from each. A third field
# names a marker that must have been answered before in the same leave:
# Esc at a guided macro's prompt abandons the access and redraws the macro
# screen, which the operator then leaves with a second Esc.
FX_LEAVE_KEYS=(
  "@Quit/Term ?|Q"
  "@Cassette Number :|<Esc>"
  "@Level Number :|<Esc>"
  "Please Select ->|<Esc>|Number :"
  "@Press any key|x"
  "@Press c to continue|c"
  "@Select now|<Esc>"
  "@Reset Counter [Y/N]|n"
  "@Total Time |x"
  "@Lift hit z-Init Switch|x"
  "@Invalid Port Number:|x"
  "ZEZ Positioning Times:|x"
  "Rotation Access Time Summary|x"
  "Mean UnLoad Time:|x"
  "System Hobs [hours]|x"
)
