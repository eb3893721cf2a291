// A named pipe server where a receipt to a forged sender such as ".\pipe\x"
// would go (\\.\pipe\x\mailslot\messngr). It is armed once a client of its
// own has come through that very path, and then notes any client that
// connects: an untouched trap means something.
#pragma once

#include <memory>
#include <string>

namespace drive {

class PipeTrap {
public:
    explicit PipeTrap(const std::string &sender);
    ~PipeTrap();
    PipeTrap(const PipeTrap &) = delete;
    PipeTrap &operator=(const PipeTrap &) = delete;

    bool Armed() const;
    bool Untouched() const;

private:
    struct Server;
    std::unique_ptr<Server> server_;
};

} // namespace drive
