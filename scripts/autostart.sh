# The station at login: the XDG autostart entry tindrel.desktop in
# $XDG_CONFIG_HOME/autostart (~/.config/autostart), which starts the station
# hidden (/H). Source it after tindrel.sh; it defines functions only.
#
#   as_main --autostart [LAUNCHER OPTIONS]
#                  writes the entry: at login, tindrel with these options
#                  (none, or --lan and its options) and /H
#   as_main --no-autostart
#                  removes it
#
# The entry names the installed command and holds TryExec=tindrel, so once
# the package is gone the desktop skips it.

as_file() {
    local config=${XDG_CONFIG_HOME:-}
    [[ $config == /* ]] || config=${HOME:?HOME is not set}/.config
    echo "$config/autostart/tindrel.desktop"
}

as_write() {
    local file command=tindrel arg
    file=$(as_file)
    tl_parse "$@"
    tl_check_user
    [ ${#tl_args[@]} -eq 0 ] ||
        tl_fail "--autostart takes the launcher's options only (the station starts hidden, with /H), not '${tl_args[0]}'"
    for arg in "$@"; do
        # The desktop entry's command line has quoting rules of its own; the
        # options need none of them.
        [[ $arg =~ ^[A-Za-z0-9._:-]+$ ]] || tl_fail "--autostart cannot pass '$arg' in a desktop entry"
        command+=" $arg"
    done
    mkdir -p "$(dirname "$file")"
    cat >"$file.new" <<ENTRY
[Desktop Entry]
Type=Application
Name=Zorvanta tindrel
Comment=Starts the pop-up messenger hidden at login; tindrel --no-autostart removes this
Exec=$command /H
TryExec=tindrel
Icon=tindrel
Terminal=false
ENTRY
    mv "$file.new" "$file"
    tl_say "at login: $command /H ($file)"
}

as_remove() {
    local file
    file=$(as_file)
    if [ -e "$file" ]; then
        rm -f "$file"
        tl_say "removed $file: the station no longer starts at login"
    else
        tl_say "the station does not start at login (there is no $file)"
    fi
}

as_main() {
    case $1 in
        --autostart) shift; as_write "$@" ;;
        --no-autostart) [ $# -eq 1 ] || tl_fail "--no-autostart takes no arguments"; as_remove ;;
    esac
}
