// See Privileges.h.
#include "gateway/Privileges.h"

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The passwd entry of `name`, or of `uid` when `name` is empty.
bool Lookup(const std::string &name, uid_t uid, Account &out)
{
    std::vector<char> buffer(16384);
    passwd entry{}, *found = nullptr;
    if (name.empty())
        getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
    else
        getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (!found)
        return false;
    out.Name = entry.pw_name;
    out.Home = entry.pw_dir;
    out.Uid = entry.pw_uid;
    out.Gid = entry.pw_gid;
    int count = 64;
    out.Groups.resize(static_cast<std::size_t>(count));
    if (getgrouplist(entry.pw_name, entry.pw_gid, out.Groups.data(), &count) < 0) {
        out.Groups.resize(static_cast<std::size_t>(count));
        getgrouplist(entry.pw_name, entry.pw_gid, out.Groups.data(), &count);
    }
    out.Groups.resize(static_cast<std::size_t>(count));
    return true;
}

std::string UserText(uid_t uid)
{
    Account a;
    return Lookup("", uid, a) ? a.Name : "uid " + std::to_string(uid);
}

bool Capabilities(__user_cap_data_struct (&data)[2])
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capget, &header, data) == 0;
}

} // namespace

bool ChooseAccount(const std::string &runAs, const std::string &prefix, Account &out, std::string &error)
{
    struct stat st{};
    if (::stat(prefix.c_str(), &st) != 0) {
        error = "cannot look at the prefix " + prefix + ": " + std::strerror(errno);
        return false;
    }
    out = Account();
    if (geteuid() == 0) {
        if (runAs.empty() && st.st_uid == 0) {
            error = "the prefix " + prefix + " belongs to root, and the gateway does not run as root: "
                    "give the prefix to the station's user (chown -R USER " + prefix + ") or name that "
                    "user with --run-as USER";
            return false;
        }
        if (!Lookup(runAs, st.st_uid, out)) {
            error = runAs.empty() ? "the owner of " + prefix + " (uid " + std::to_string(st.st_uid) +
                                        ") has no account to run as; name one with --run-as USER"
                                  : "--run-as " + runAs + ": there is no such user";
            return false;
        }
        if (out.Uid == 0) {
            error = "--run-as " + runAs + ": the gateway does not run as root; name the station's user";
            return false;
        }
        out.Switch = true;
    } else {
        if (!Lookup("", getuid(), out)) {
            error = "uid " + std::to_string(getuid()) + " has no account";
            return false;
        }
        if (!runAs.empty() && runAs != out.Name) {
            error = "--run-as " + runAs + " needs the gateway started as root; it runs as " + out.Name;
            return false;
        }
    }
    if (st.st_uid != out.Uid) {
        error = "the prefix " + prefix + " belongs to " + UserText(st.st_uid) + ", not to " + out.Name +
                ": Wine runs a prefix only as its owner (chown -R " + out.Name + " " + prefix + ")";
        return false;
    }
    return true;
}

bool BecomeAccount(const Account &a, std::string &error)
{
    if (!a.Switch)
        return true;
    // The bounding set too, while root may still change it: nothing started
    // from here on can be given a capability.
    for (int cap = 0; prctl(PR_CAPBSET_READ, cap) >= 0; ++cap)
        prctl(PR_CAPBSET_DROP, cap);
    if (setgroups(a.Groups.size(), a.Groups.data()) != 0 || setresgid(a.Gid, a.Gid, a.Gid) != 0 ||
        setresuid(a.Uid, a.Uid, a.Uid) != 0) {
        error = "cannot become the user " + a.Name + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool LockDown(std::string &error)
{
    // EINVAL only from kernels before ambient capabilities (4.3): none to clear.
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2] = {};
    if (syscall(SYS_capset, &header, none) != 0 || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        error = std::string("cannot give up the capabilities: ") + std::strerror(errno);
        return false;
    }

    uid_t r, e, s;
    __user_cap_data_struct left[2] = {};
    bool ambient = false;
    for (int cap = 0; prctl(PR_CAPBSET_READ, cap) >= 0; ++cap)
        ambient = ambient || prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, cap, 0, 0) == 1;
    if (getresuid(&r, &e, &s) != 0 || r == 0 || e == 0 || s == 0)
        error = "still root after the change of user";
    else if (!Capabilities(left))
        error = std::string("cannot read the capabilities left: ") + std::strerror(errno);
    else if (ambient)
        error = "ambient capabilities are left after giving them up";
    else
        for (const auto &d : left)
            if (d.effective || d.permitted || d.inheritable)
                error = "capabilities are left after giving them up";
    if (error.empty() && prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) != 1)
        error = "no_new_privs did not take";
    if (error.empty() && setresuid(static_cast<uid_t>(-1), 0, static_cast<uid_t>(-1)) == 0)
        error = "root could be had back";
    return error.empty();
}

ActingAs::ActingAs(const Account &a)
{
    if (!a.Switch || geteuid() != 0)
        return;
    active_ = true;
    egid_ = getegid();
    groups_.resize(static_cast<std::size_t>(getgroups(0, nullptr)));
    groups_.resize(static_cast<std::size_t>(getgroups(static_cast<int>(groups_.size()), groups_.data())));
    ok_ = setgroups(a.Groups.size(), a.Groups.data()) == 0 && setegid(a.Gid) == 0 && seteuid(a.Uid) == 0;
}

ActingAs::~ActingAs()
{
    if (!active_)
        return;
    // Back to root for the privileged work that follows; failing here would
    // leave the mount undone, and that is reported there.
    if (seteuid(0) == 0 && setegid(egid_) == 0)
        setgroups(groups_.size(), groups_.data());
}
