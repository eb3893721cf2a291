// The Unix side of a Wine test: shell scripts run by /bin/sh from inside
// the prefix (mkfifo, rm, a station started with its own environment),
// each ending in a marker file, and where the prefix keeps its UNC names.
#pragma once

#include <string>

namespace wine {

// A shell script run by /bin/sh from this process. A Unix child started by
// CreateProcessA has no process handle that can be waited for (the wait
// fails at once), so the script writes its exit status to a marker file as
// its last act; the marker's appearance is its end.
class UnixScript {
public:
    // Writes the script; Start() runs it.
    explicit UnixScript(const std::string &body);
    ~UnixScript();
    UnixScript(const UnixScript &) = delete;
    UnixScript &operator=(const UnixScript &) = delete;

    bool Start();
    bool Done() const;
    // The exit status, or -1 before the end.
    int Status() const;
    // Hands the marker to an owner that outlives this object. The script
    // goes now: a running shell keeps it open.
    std::string TakeMarker();

private:
    std::string script_, marker_;
    bool ready_ = false;
};

// The exit status a script wrote to its marker, or -1 when there is none.
int MarkerStatus(const std::string &marker);

// The Unix path under which Wine keeps the prefix's UNC names.
std::string UncRoot();
// Runs a Unix command line through /bin/sh and waits for its end, e.g.
// "/usr/bin/mkfifo " + path. RunUnix: true when it ran to its end in time;
// RunUnixStatus: its exit status, or -1 when it did not start or end in time.
bool RunUnix(const std::string &commandLine);
int RunUnixStatus(const std::string &commandLine, int timeoutMs = 10000);
// Quotes a text for /bin/sh.
std::string ShellQuoted(const std::string &text);

} // namespace wine
