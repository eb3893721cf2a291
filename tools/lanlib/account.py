"""The unprivileged account that stations run as when root starts them
(tools/lan, the network tests): who it is, commands run as it, and the files
root makes in a folder of its.

Root writes into such a folder without following a link the account may
have put there, and gives each file to the folder's owner.
Standard library only.
"""
import os
import pwd


class AccountError(Exception):
    pass


class Account:
    def __init__(self, name):
        try:
            entry = pwd.getpwnam(name)
        except KeyError:
            raise AccountError(f"there is no user {name}") from None
        if entry.pw_uid == 0:
            raise AccountError(f"{name} is root: stations run as an unprivileged user")
        self.name, self.uid, self.gid, self.home = name, entry.pw_uid, entry.pw_gid, entry.pw_dir

    @classmethod
    def chosen(cls, variable):
        """The account named by the environment variable, or else the user who ran sudo."""
        name = os.environ.get(variable) or os.environ.get("SUDO_USER")
        if not name or name == "root":
            raise AccountError(f"stations run as an unprivileged user: run this with sudo from "
                               f"your own account, or set {variable}=NAME")
        return cls(name)

    @classmethod
    def owning(cls, path):
        """The account that owns path, or the folder it would go into; None for root."""
        path = os.path.abspath(path)
        while not os.path.exists(path):
            path = os.path.dirname(path)
        uid = os.stat(path).st_uid
        if uid == 0:
            return None
        try:
            return cls(pwd.getpwuid(uid).pw_name)
        except KeyError:
            raise AccountError(f"{path} belongs to uid {uid}, which has no account") from None

    def command(self, argv):
        """argv run as the account, with its groups."""
        return ["setpriv", f"--reuid={self.uid}", f"--regid={self.gid}", "--init-groups", "--",
                *map(str, argv)]

    def env(self, base):
        """base for the account: its home, its name, none of root's session."""
        env = {k: v for k, v in base.items()
               if not k.startswith("SUDO_") and k not in ("XDG_RUNTIME_DIR", "MAIL")}
        env.update(HOME=self.home, USER=self.name, LOGNAME=self.name)
        return env

    def owns(self, path):
        st = os.lstat(path)
        return (st.st_uid, st.st_gid) == (self.uid, self.gid)

    def hand_over(self, top):
        """top and everything below it become the account's; links are not followed."""
        for folder, dirs, files in os.walk(top):
            for name in dirs + files:
                os.lchown(os.path.join(folder, name), self.uid, self.gid)
        os.lchown(top, self.uid, self.gid)


def owned_fd(path, flags=os.O_WRONLY | os.O_CREAT | os.O_TRUNC, mode=0o644):
    """path opened as root without following a link, and given to the owner
    of its folder."""
    folder = os.lstat(os.path.dirname(os.path.abspath(path)))
    fd = os.open(path, flags | os.O_NOFOLLOW | os.O_CLOEXEC, mode)
    os.fchown(fd, folder.st_uid, folder.st_gid)
    return fd


def owned_dir(path):
    """path, with the folders missing on the way made and each given to the
    owner of the folder it is made in; folders that exist are left alone."""
    path = os.path.abspath(path)
    if os.path.lexists(path):
        if os.path.islink(path) or not os.path.isdir(path):
            raise AccountError(f"{path} is not a folder")
        return
    owned_dir(os.path.dirname(path))
    os.mkdir(path)
    parent = os.lstat(os.path.dirname(path))
    os.lchown(path, parent.st_uid, parent.st_gid)
