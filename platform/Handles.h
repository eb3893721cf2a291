// Owned kernel handles.
//
// Windows reports a failed open two ways: CreateFileA and CreateMailslotA
// return INVALID_HANDLE_VALUE, CreateThread returns NULL. Each owned type
// knows its own failure value, so no caller compares against the wrong one,
// and each kind of object has a type of its own (the tag), so a process
// cannot be handed where a thread is waited for.
// Closing goes through CloseKernelHandle (platform/Handles.cpp), which keeps
// <windows.h> out of this header.
#pragma once

#include <cstdint>
#include <utility>

void CloseKernelHandle(void *handle);

template <std::intptr_t InvalidValue, typename Kind = void>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(void *handle) : handle_(handle) {}
    UniqueHandle(UniqueHandle &&other) noexcept : handle_(other.release()) {}
    UniqueHandle &operator=(UniqueHandle &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle &) = delete;
    UniqueHandle &operator=(const UniqueHandle &) = delete;
    ~UniqueHandle() { reset(); }

    static void *Invalid() { return reinterpret_cast<void *>(InvalidValue); }
    bool valid() const { return handle_ != Invalid(); }
    explicit operator bool() const { return valid(); }
    void *get() const { return handle_; }
    void *release() { return std::exchange(handle_, Invalid()); }
    void reset(void *handle = Invalid())
    {
        void *old = std::exchange(handle_, handle);
        if (old != Invalid())
            CloseKernelHandle(old);
    }

private:
    void *handle_ = Invalid();
};

using FileHandle = UniqueHandle<-1>;   // CreateFileA, CreateMailslotA, CreateNamedPipeA
using ThreadHandle = UniqueHandle<0>;  // CreateThread
using ProcessHandle = UniqueHandle<0, struct ProcessKind>;    // CreateProcessA, OpenProcess
using EventHandle = UniqueHandle<0, struct EventKind>;        // CreateEventA
using SnapshotHandle = UniqueHandle<-1, struct SnapshotKind>; // CreateToolhelp32Snapshot
