// See HeldNames.h.
#include "gateway/HeldNames.h"

#include "gateway/Daemon.h"

std::unique_ptr<HeldNames> HeldNames::Register(Daemon &daemon, std::string &error)
{
    // Register releases whatever it had claimed when it fails.
    if (!daemon.Register(error))
        return nullptr;
    return std::unique_ptr<HeldNames>(new HeldNames(daemon));
}

HeldNames::~HeldNames() { daemon_.Release(); }
