# Which way the demo shows the program's window; sourced by sim/demo.sh and its test.
#
# The program runs in a network namespace that has only its own loopback. An X display reached
# through a socket file (":0", "unix:0") is still reachable from there; one reached over TCP
# ("localhost:10.0", as a remote session's X forwarding sets it) is not, because "localhost"
# inside the namespace is another loopback than the one the forwarding listens on.

# Prints how DISPLAY is reached: "none", "local" (a socket file) or "tcp".
demo_display_kind() {
    local display="${1:-}"
    if [ -z "$display" ]; then
        echo none
        return
    fi
    local host="${display%:*}"
    # "host/unix:N" and a path (launchd's "/private/...:0") name socket files as well.
    case "$host" in
        "" | unix | */unix | /*) echo local ;;
        *) echo tcp ;;
    esac
}

# Prints the demo's choice for DISPLAY and KQ_DEMO_HEADLESS: "window" (open the window on the
# display), "headless" (drive the window in a virtual display) or "refuse" (the display cannot
# be reached from the namespace and no headless run was asked for).
demo_display_choice() {
    local display="${1:-}" headless="${2:-0}"
    if [ "$headless" = 1 ]; then
        echo headless
        return
    fi
    case "$(demo_display_kind "$display")" in
        none) echo headless ;;
        local) echo window ;;
        tcp) echo refuse ;;
    esac
}
