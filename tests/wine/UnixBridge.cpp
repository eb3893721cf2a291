// See UnixBridge.h.
#include "tests/wine/UnixBridge.h"
#include "tests/drive/Files.h"
#include "tests/drive/Processes.h"
#include "tests/drive/Wait.h"

#include <windows.h>

#include <cstdlib>
#include <utility>

namespace wine {

using namespace drive;

UnixScript::UnixScript(const std::string &body)
{
    char dir[MAX_PATH] = {}, name[MAX_PATH] = {};
    GetTempPathA(sizeof dir, dir);
    if (!GetTempFileNameA(dir, "tdl", 0, name))
        return;
    script_ = name;
    marker_ = script_ + ".done";
    const std::string unixMarker = UnixPathOf(marker_);
    if (unixMarker.empty())
        return;
    // In a subshell, so that an exit in the body still reaches the marker.
    const std::string partial = ShellQuoted(unixMarker + ".tmp");
    const std::string text = "(\n" + body + "\n)\necho $? > " + partial + " && mv " + partial +
                             " " + ShellQuoted(unixMarker) + "\n";
    ready_ = WriteWholeFile(script_, text);
}

UnixScript::~UnixScript()
{
    if (!script_.empty())
        DeleteFileA(script_.c_str());
    if (!marker_.empty())
        DeleteFileA(marker_.c_str());
}

bool UnixScript::Start()
{
    if (!ready_)
        return false;
    Child shell;
    return StartProgram("/bin/sh " + UnixPathOf(script_), shell);
}

bool UnixScript::Done() const
{
    return !marker_.empty() && FileExists(marker_);
}

int UnixScript::Status() const
{
    return Done() ? MarkerStatus(marker_) : -1;
}

std::string UnixScript::TakeMarker()
{
    DeleteFileA(script_.c_str());
    script_.clear();
    return std::exchange(marker_, std::string());
}

int MarkerStatus(const std::string &marker)
{
    if (marker.empty() || !FileExists(marker))
        return -1;
    return std::atoi(ReadWholeFile(marker).value_or("").c_str());
}

std::string UncRoot()
{
    // Wine does not pass WINEPREFIX on to its programs; scripts/wine-exec.sh does.
    const char *prefix = std::getenv("TINDREL_WINEPREFIX");
    return std::string(prefix ? prefix : "") + "/dosdevices/unc";
}

std::string ShellQuoted(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

int RunUnixStatus(const std::string &commandLine, int timeoutMs)
{
    UnixScript script(commandLine);
    if (!script.Start())
        return -1;
    if (!WaitUntil([&] { return script.Done(); }, timeoutMs, 5))
        return -1;
    return script.Status();
}

bool RunUnix(const std::string &commandLine)
{
    return RunUnixStatus(commandLine) >= 0;
}

} // namespace wine
