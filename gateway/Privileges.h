// Who the gateway runs as once its privileged work is done, and the change
// to that user: the account (--run-as, or else the owner of the station's
// prefix; never root), the switch of groups and ids when started as root,
// and the lock-down after it, checked: no capability in any set, and none to
// be had again (no_new_privs), so neither the gateway nor the relay and Wine
// it starts can become root again.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct Account {
    std::string Name, Home;
    uid_t Uid = 0;
    gid_t Gid = 0;
    std::vector<gid_t> Groups; // supplementary, as at a login
    // Started as root: the gateway becomes this user (BecomeAccount).
    bool Switch = false;
};

// Started as root: `runAs`, or the prefix's owner when `runAs` is empty.
// Started as another user: that user (`runAs` may only name it). Either way
// the prefix must belong to the account: Wine runs a prefix only as its
// owner.
bool ChooseAccount(const std::string &runAs, const std::string &prefix, Account &out, std::string &error);

// setgroups, setgid, setuid to the account, all ids of each; nothing to do
// when not switching.
bool BecomeAccount(const Account &account, std::string &error);

// Clears the effective, permitted, inheritable and ambient capabilities and
// sets no_new_privs, then checks that no id is root, no capability is left
// and root cannot be had back. Call before any thread starts: these are
// per thread, and threads inherit them.
bool LockDown(std::string &error);

// For a scope, the account's groups and effective ids (when switching), so
// that what root prepares in the user's prefix is done with the user's
// rights and no link of theirs leads it elsewhere.
class ActingAs {
public:
    explicit ActingAs(const Account &account);
    ~ActingAs();
    ActingAs(const ActingAs &) = delete;
    ActingAs &operator=(const ActingAs &) = delete;
    bool Ok() const { return ok_; }

private:
    bool active_ = false, ok_ = true;
    gid_t egid_ = 0;
    std::vector<gid_t> groups_;
};
