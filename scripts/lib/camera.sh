# shellcheck shell=sh
# Starts a simulated camera (kovra-camd) on loopback and waits until it
# listens: sourced by the scripts and tests that run one, and by the pod's
# script, so it is POSIX sh (dash runs it in the pod).
#
#   camera_start SECONDS [-p PORT] LOG PORT_FILE PROGRAM [OPTION...]
#       camera_launch, then camera_wait SECONDS; returns what that returns.
#   camera_launch [-p PORT] LOG PORT_FILE PROGRAM [OPTION...]
#       Runs PROGRAM [OPTION...] --listen 127.0.0.1:PORT --port-file
#       PORT_FILE in the background, its stderr appended to LOG (a restart
#       keeps what the one before said), and sets camera_pid. PORT is 0,
#       any free one, unless -p gives one (a restart on the port it had).
#       PROGRAM is kovra-camd's path, or words in front of it (valgrind ...).
#   camera_wait SECONDS PID LOG PORT_FILE
#       Waits at most SECONDS for PORT_FILE to hold the port: 0 once it
#       does, with camera_port set; 1 if PID ended first, with camera_error
#       the last line of LOG; 2 if SECONDS passed, with PID killed and
#       camera_error saying so. For a camera started some other way (by a
#       unit's command line), whose port file must not exist before it.

camera_launch() {
    camera_listen=0
    if [ "$1" = -p ]; then
        camera_listen=$2
        shift 2
    fi
    camera_log=$1 camera_port_file=$2
    shift 2
    # A port file left by a camera before would pass for this one's.
    rm -f "$camera_port_file"
    "$@" --listen "127.0.0.1:$camera_listen" --port-file "$camera_port_file" 2>>"$camera_log" &
    camera_pid=$!
}

camera_wait() {
    camera_port='' camera_error=''
    # date counts whole seconds: one more, so that the wait is never
    # shorter than asked.
    camera_deadline=$(($(date +%s) + $1 + 1))
    while :; do
        # The daemon renames the file into place: never seen in part.
        if [ -s "$4" ]; then
            # shellcheck disable=SC2034 # the caller's
            camera_port=$(cat "$4")
            return 0
        fi
        if ! kill -0 "$2" 2>/dev/null; then
            wait "$2" 2>/dev/null || :
            camera_error=$(tail -n 1 "$3" 2>/dev/null || :)
            return 1
        fi
        if [ "$(date +%s)" -ge "$camera_deadline" ]; then
            kill -9 "$2" 2>/dev/null || :
            wait "$2" 2>/dev/null || :
            # shellcheck disable=SC2034 # the caller's
            camera_error="no port within $1 s"
            return 2
        fi
        sleep 0.05
    done
}

camera_start() {
    camera_bound=$1
    shift
    camera_launch "$@"
    camera_wait "$camera_bound" "$camera_pid" "$camera_log" "$camera_port_file"
}
