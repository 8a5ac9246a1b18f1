#!/bin/sh
# Stands in for a child program of the daemon in tests (installed under GW_ROOT by
# testsupport::StubChild). Appends what happens to "$0.log", one line each, led by its pid:
#   PID args ARG...        the arguments it was started with
#   PID stdin WHAT         what its standard input is (as /proc shows it: "socket:[123]")
#   PID signal NAME        a signal it got (TERM, HUP, INT, USR1, USR2)
#   PID exit CODE          it ends by itself
#   PID held               it has printed its count and runs on (COUNT=held)
# and the descriptors it starts with to "$0.fds", "PID N WHAT" a line as /proc shows them (the
# shell's own hold of this script among them); and behaves as "$0.conf" (shell assignments,
# read when it starts) says:
#   INSTANCES=N            "--num-of-instances" prints N (nothing when unset)
#   COUNT=hang             "--num-of-instances" prints nothing and runs until a signal ends it
#   COUNT=raw              "--num-of-instances" prints N without an end of line
#   COUNT=held             "--num-of-instances" prints N without an end of line and runs until
#                          a signal ends it
#   COUNT=format           "--num-of-instances" prints N as a printf format ("\r\n" read)
#   COUNT=orphan           "--num-of-instances" prints nothing and ends, leaving a process of
#                          its own that holds its output for 3 s
#   IGNORE="TERM HUP"      these signals are recorded and survived; others end it by the signal
#   RUN=S                  it ends by itself after S seconds (unset: when a signal ends it)
#   EXIT=N                 the code it ends with by itself (0 when unset)

log="$0.log"
INSTANCES=
COUNT=
IGNORE=
RUN=
EXIT=0
[ -r "$0.conf" ] && . "$0.conf"

say() { echo "$$ $*" >>"$log"; }

sleeper=

# Waits S seconds in a child, so that signals are handled at once.
pause() {
    sleep "$1" </dev/null >/dev/null 2>&1 &
    sleeper=$!
    until wait "$sleeper"; do
        kill -0 "$sleeper" 2>/dev/null || break
    done
    sleeper=
}

on_signal() {
    say signal "$1"
    case " $IGNORE " in *" $1 "*) return ;; esac
    [ -n "$sleeper" ] && kill "$sleeper" 2>/dev/null
    trap - "$1"
    kill -"$1" $$
}

# Set before anything is written, so that a signal sent as soon as the start is seen is
# handled as configured.
for s in TERM HUP INT USR1 USR2; do
    trap "on_signal $s" "$s"
done

say args "$@"
say stdin "$(readlink /proc/$$/fd/0)"
# Listed from a subshell, which makes the redirections its own: none is among them.
(find /proc/$$/fd -mindepth 1 -printf "$$ %f %l\n" >>"$0.fds" 2>/dev/null)

if [ "$1" = "--num-of-instances" ]; then
    [ "$COUNT" = hang ] && while :; do pause 1; done
    [ "$COUNT" = orphan ] && sleep 3 </dev/null 2>/dev/null &
    if [ "$COUNT" = held ]; then
        printf %s "$INSTANCES"
        say held
        while :; do pause 1; done
    fi
    if [ "$COUNT" = raw ]; then
        printf %s "$INSTANCES"
    elif [ "$COUNT" = format ]; then
        printf "$INSTANCES"
    elif [ -n "$INSTANCES" ]; then
        echo "$INSTANCES"
    fi
    say exit 0
    exit 0
fi

if [ -n "$RUN" ]; then
    pause "$RUN"
    say exit "$EXIT"
    exit "$EXIT"
fi
while :; do
    pause 1
done
