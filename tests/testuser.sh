# An unprivileged account for tests that run a station or a gateway as a
# desktop user would: added at the start of a run and removed at its end,
# also when the run fails. Source it; it defines functions only. Needs root.
#
#   tu_add NAME      adds system user NAME (and its group) with a new home of
#                    its own, /var/tmp/NAME; echoes the home
#   tu_remove NAME   ends every process NAME still runs, detaches what is
#                    still mounted in its home (a gateway killed outright
#                    leaves its FUSE mount), then removes the user, its group
#                    and its home; quiet when there is none

tu_add() {
    local name=$1 home=/var/tmp/$1
    tu_remove "$name"
    useradd --system --user-group --create-home --home-dir "$home" \
        --shell /usr/sbin/nologin "$name" >/dev/null || return 1
    echo "$home"
}

tu_remove() {
    local name=$1 home=/var/tmp/$1 i mount
    id -u "$name" >/dev/null 2>&1 || return 0
    pkill -KILL -u "$name" 2>/dev/null || true
    for i in $(seq 1 50); do pgrep -u "$name" >/dev/null || break; sleep 0.1; done
    # Mount points as /proc/mounts writes them: a space is \040.
    for mount in $(awk -v h="$home/" 'index($2, h) == 1 {print $2}' /proc/mounts); do
        umount -l "$(printf '%b' "$mount")"
    done
    userdel --force --remove "$name" >/dev/null 2>&1
    ! id -u "$name" >/dev/null 2>&1 && [ ! -e "$home" ]
}
