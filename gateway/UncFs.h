// The file system Wine sees as \\NAME\...: a libfuse3 mount on the prefix's
// dosdevices/unc that holds only NAME/mailslot/messngr, for exactly the names
// the daemon says exist, and turns every write on it into one datagram. Owns
// the mount and the threads that serve it; one mount per process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct UncHooks {
    // Blocking up to ~1.5 s; thread-safe; name as Wine wrote it.
    std::function<bool(const std::string &name)> Exists;
    // One datagram; false when it could not be sent.
    std::function<bool(const std::string &name, const std::uint8_t *data, std::size_t size)> Send;
};

// A name Exists denied is not asked again for half a second; an answer that
// it exists is never kept.
// Mounts on `mountpoint`, replacing a symbolic link or a dead mount found
// there, and serves it on threads of its own until UnmountUnc.
bool MountUnc(const std::string &mountpoint, UncHooks hooks, std::string &error);
void UnmountUnc();
