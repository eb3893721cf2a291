// The kernel's FUSE mount on the prefix's dosdevices/unc, made for the
// station's user, and its removal. Owns the /dev/fuse descriptor that the
// file system (UncFs) is served through, and a keeper: a process of the
// user's that waits for the gateway to end, however it ends, then removes
// the mount with `fusermount3 -u -z`.
//
// Why a keeper: after its start the gateway holds no capability and has
// no_new_privs, so at its end it can neither unmount (CAP_SYS_ADMIN) nor run
// the set-user-ID fusermount3 (no_new_privs ignores the bit: "Operation not
// permitted", measured). The keeper is started before that, as the user,
// with no right but what fusermount3 gives any user: to remove a FUSE mount
// whose user_id is theirs (measured: it removes one that root made with
// user_id=UID). If the gateway is killed, its end of the keeper's pipe closes
// all the same, so no dead mount is left behind.
//
// Why root mounts: fusermount3 opens /dev/fuse with its caller's rights, and
// on a server /dev/fuse may be root's alone (crw-------: "failed to open
// /dev/fuse: Permission denied", measured), so a gateway started as root
// mounts with mount(2) before it changes user, with user_id and group_id of
// the user, and no allow_other: only the user's Wine may use it. The mount
// point is prepared and opened with the user's rights and the mount made on
// that descriptor, so no link in the user's prefix can move root's mount
// elsewhere. A gateway started as a user (a desktop, where /dev/fuse is
// crw-rw-rw-) mounts through libfuse, which runs fusermount3.
#pragma once

#include "gateway/Network.h"
#include "gateway/Privileges.h"

#include <memory>
#include <string>

class UncMount {
public:
    // Mounts on `point`, replacing a symbolic link or a dead mount found
    // there. Call while the gateway may still mount: before BecomeAccount
    // and LockDown.
    static std::unique_ptr<UncMount> Mount(const std::string &point, const Account &owner, std::string &error);
    // Closes the device, which ends the connection once UncFs has closed its
    // copy, and waits (at most 5 s) for the keeper to remove the mount.
    ~UncMount();

    int Device() const { return device_.get(); }
    const std::string &Point() const { return point_; }

private:
    UncMount() = default;
    bool MountAsRoot(const Account &owner, std::string &error);
    bool MountAsUser(const Account &owner, std::string &error);
    bool StartKeeper(const Account &owner, std::string &error);

    std::string point_;
    UniqueFd device_;
    UniqueFd keeperCue_; // the keeper unmounts once this closes
    UniqueFd keeper_;    // pidfd
};
