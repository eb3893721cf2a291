// Mailslot operations: the local mailslot this station owns and reads, and
// the one-block writes to any mailslot path. Used by transport/Send and
// transport/Receive. Thin: no behaviour of the messenger lives here.
#pragma once

#include "platform/Handles.h"

#include <cstddef>
#include <optional>
#include <string>

// No maximum message size, reads wait forever (they never do: a read follows
// a size query that found a datagram). An invalid handle when creation fails.
FileHandle CreateLocalMailslot(const char *path);

// Size in bytes of the next waiting datagram, or none when nothing waits or
// the query fails.
std::optional<std::size_t> NextDatagramSize(const FileHandle &mailslot);

// Takes the next datagram off the queue whole, whatever its size, and copies
// at most areaSize bytes of it into area. A datagram longer than the area
// would otherwise stay at the head of the queue and block every later one.
// Returns false when the read fails.
bool ReadNextDatagram(const FileHandle &mailslot, std::size_t nextSize, char *area,
                      std::size_t areaSize);

// Opens path for writing, writes the bytes with one WriteFile, closes.
// A fresh handle per block: a cached client handle keeps a mailslot alive
// after its owner has gone. Returns false when the open or write fails.
bool WriteDatagram(const std::string &path, const char *data, std::size_t size);
