// See Traps.h.
#include "tests/wine/Traps.h"
#include "tests/drive/Files.h"
#include "tests/drive/Mailslot.h"
#include "tests/wine/UnixBridge.h"

namespace wine {

namespace {
const std::string Marker(420, 'M');
} // namespace

FileTrap::FileTrap(const std::string &target, const std::string &unixFile)
    : path_(drive::MailslotOf(target))
{
    RunUnix("/bin/mkdir -p " + ShellQuoted(unixFile.substr(0, unixFile.rfind('/'))));
    RunUnix("/usr/bin/touch " + ShellQuoted(unixFile));
    armed_ = drive::WriteBlock(path_, Marker) && Untouched();
}

bool FileTrap::Untouched() const
{
    return drive::ReadWholeFile(path_) == Marker;
}

} // namespace wine
