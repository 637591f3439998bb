// Appending a run's whole result group to a file that other runs may append to
// at the same moment. The group reaches the file in one write under an
// exclusive lock, or not at all, so that groups never interleave and a failed
// or killed run leaves the file as it was.
#pragma once

#include <string>
#include <string_view>

namespace kelbow {

// The directory part of `fileName`: "." when it has none, "/" for a file in
// the root.
std::string directoryOf(const std::string& fileName);

// True when `fileName` can be appended to: an existing file opens for
// appending, or, for a missing one, its directory takes new files. Creates
// nothing. On false, errno tells why.
bool canAppendTo(const std::string& fileName);

// kCannotWritePartLeft: the group could not be written whole, and the part
// that was could not be cut back either.
enum class AppendStatus { kAppended, kCannotOpen, kCannotWrite, kCannotWritePartLeft };

// Opens `fileName` for appending (created when missing), takes an exclusive
// lock on it, appends `text` with one write (more only when the system takes a
// part at a time) and syncs it. When the text cannot be written whole, the file
// is cut back to its size before, or removed when this call made it, still
// under the lock. On failure errno tells why.
AppendStatus appendWhole(const std::string& fileName, std::string_view text);

}  // namespace kelbow
