// Paths past MAX_PATH (260 characters): the forms that the file, profile and
// process calls take at that length. Shared by the launcher and upgrade.exe.
#pragma once

#include <string>

namespace fw::win32 {

// The full path of `path`; `path` itself when it cannot be made one.
std::wstring fullPath(const std::wstring& path);

// The form of a full path that the file calls (CreateFileW, MoveFileExW,
// DeleteFileW) take at any length: "\\?\" before one past MAX_PATH.
std::wstring extendedPath(const std::wstring& full);

// The short (8.3) form of an existing file or folder; empty when the volume
// has none.
std::wstring shortPath(const std::wstring& path);

// The form of a profile file's path that the private-profile calls take:
// they take no "\\?\" form, and under Wine a longer path reads as a missing
// file and a write to it reports success without writing. Past MAX_PATH the
// folder is given by its short form; unchanged when that does not help.
std::wstring profilePath(const std::wstring& path);

// Starts a command line as CreateProcessW reads it, in a normal window;
// does not wait.
bool startCommandLine(const std::wstring& commandLine);

// Starts `program` (a full path) with `arguments` (appended to the quoted
// program as given) in a normal window, in `folder` when one is given, else
// in this process's current folder; does not wait. A program past MAX_PATH
// is found by a name relative to its folder's short form, which CreateProcessW
// takes at any length, and then also starts in its own folder.
bool startProgram(const std::wstring& program, const std::wstring& arguments,
                  const std::wstring& folder = {});

} // namespace fw::win32
