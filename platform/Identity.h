// The names this station goes by, as the system reports them. Each call
// writes a NUL-terminated name into buffer[0..capacity) and returns false
// when the name is unavailable or does not fit. Used by transport/Send.
#pragma once

#include <cstddef>

bool QueryComputerName(char *buffer, std::size_t capacity);
bool QueryUserName(char *buffer, std::size_t capacity);
// The network provider's idea of the current user: the fallback when the
// logged-on user's name cannot be had.
bool QueryNetworkUser(char *buffer, std::size_t capacity);
