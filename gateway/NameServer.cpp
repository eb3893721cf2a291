#include "gateway/NameServer.h"

#include "gateway/codec/NameService.h"

Endpoint NameServer::Where() const { return {address_, NameServicePort}; }

void NameServer::Answered()
{
    if (!up_)
        change_ = true;
    up_ = true;
}

void NameServer::Silent(SteadyTime now)
{
    if (up_) {
        change_ = false;
        probeAt_ = now + ProbeInterval;
    }
    up_ = false;
}

std::optional<SteadyTime> NameServer::NextProbe() const
{
    if (up_)
        return std::nullopt;
    return probeAt_;
}

std::optional<bool> NameServer::TakeChange()
{
    std::optional<bool> change = change_;
    change_.reset();
    return change;
}
