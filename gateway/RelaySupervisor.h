// The Wine-side relay (gateway/relay/) as the gateway's child: started in the
// station's prefix with an environment built here alone, started again when
// it dies (the inbox set back on a frame boundary first, and a relay that
// keeps dying retried ever more slowly), and stopped at the end after a
// short grace to empty the queue. The relay is known by a pidfd taken with
// the process itself, never by its ID, so no signal of the supervisor can
// reach another process that took the ID of a relay already reaped.
#pragma once

#include "gateway/Inbox.h"
#include "gateway/Network.h"
#include "gateway/Privileges.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct RelayCommand {
    std::string Program;           // absolute path
    std::vector<std::string> Args; // argv, the program's name first
    std::vector<std::string> Env;
};

// `wine RELAY Z:\...\inbox` in `prefix`, run as `account`: WINEPREFIX and
// WINEDEBUG=-all over this process's environment, and the account's HOME,
// USER and LOGNAME when the gateway changed to it from root.
bool WineRelayCommand(const std::string &relayExe, const std::string &prefix, const std::string &fifo,
                      const Account &account, RelayCommand &out, std::string &error);

class RelaySupervisor {
public:
    // `inbox` must outlive the supervisor.
    static std::unique_ptr<RelaySupervisor> Start(Inbox &inbox, RelayCommand command);
    // Gives the relay up to a second to empty the queue, then ends it: TERM,
    // and KILL after two more seconds.
    ~RelaySupervisor();

private:
    RelaySupervisor(Inbox &inbox, RelayCommand command);
    void Supervise();
    void Signal(int sig);

    Inbox &inbox_;
    const RelayCommand command_;
    std::mutex lock_;
    std::condition_variable changed_;
    UniqueFd relay_; // pidfd of the running relay; guarded by lock_
    bool stopping_ = false;
    std::thread thread_;
};
