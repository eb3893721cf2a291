// Writing blocks into mailslots as another station would, and holding the
// local mailslot so that a station cannot: the one place the tests, the
// soak, the bench and lanpeek open a mailslot. Each block is opened,
// written and closed on its own, since a client handle kept open keeps a
// mailslot alive after its owner has gone.
#pragma once

#include "platform/Handles.h"

#include <functional>
#include <string>

namespace drive {

constexpr const char *LocalMailslot = "\\\\.\\mailslot\\messngr";
constexpr std::size_t BlockSize = 420;

// "\\NAME\mailslot\messngr": where a station writes to NAME.
std::string MailslotOf(const std::string &name);

// One block into a mailslot (or any path that opens like one); true when
// every byte was written.
bool WriteBlock(const std::string &path, const std::string &bytes);
// One block into this prefix's \\.\mailslot\messngr.
bool WriteToStation(const std::string &bytes);
// WriteToStation, but a write that has to wait gives up once running()
// says no: the local mailslot blocks its writers while some 167 blocks wait
// unread, and a station that is gone reads none.
bool WriteToStationWhile(const std::string &bytes, const std::function<bool()> &running);

// 0 when the path opens for writing, else the error of the open. Nothing is
// written and the handle is closed at once.
unsigned long OpenError(const std::string &path);
bool Opens(const std::string &path);

// Creates this prefix's \\.\mailslot\messngr as its owner, so that no
// station can; invalid when another holds it.
FileHandle TakeLocalMailslot();

// An ordinary message block as another station writes it. Built here on its
// own rather than by the program's code, so that the blocks tests expect do
// not share the program's faults. A 0x02 in a field becomes NUL on the wire
// like every separator.
std::string MessageBlock(const std::string &sender, const std::string &recipient,
                         const std::string &text);

} // namespace drive
