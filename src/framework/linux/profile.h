// Our own private-profile (INI) engine for the builds that have no kernel32.
// It answers as GetPrivateProfileStringA / WritePrivateProfileStringA do:
// names match without regard to ASCII case and surrounding blanks; the first
// of duplicate sections or keys wins; values are trimmed and lose one pair of
// matching surrounding quotes; inline ';' and '#' belong to the value; CRLF,
// LF and CR-only files read alike; a UTF-8 byte order mark is skipped; a name
// or value ends at a NUL byte. Bytes pass through unchanged, except that a
// file with a UTF-16 byte order mark is read as UTF-8 and written back as
// UTF-16 (by the file versions below).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fw::profile {

// The value as a buffer of `bufferSize` bytes receives it: at most
// bufferSize - 1 bytes. A missing file, section or key gives `defaultValue`
// without its trailing blanks.
std::string readString(std::string_view content, std::string_view section, std::string_view key,
                       std::string_view defaultValue, std::size_t bufferSize);

// The file content after setting section/key to value: the key's line is
// replaced, or the key is appended at the end of its section, or the section
// at the end of the content. Every other line is kept as it stands.
std::string writeString(std::string_view content, std::string_view section, std::string_view key,
                        std::string_view value);

// The same on a file's bytes as stored: a file with a UTF-16 byte order mark
// is read as UTF-8, and rewritten as UTF-16 in the same byte order.
std::string readBytes(const std::string& bytes, std::string_view section, std::string_view key,
                      std::string_view defaultValue, std::size_t bufferSize);
std::string rewriteBytes(const std::string& bytes, std::string_view section, std::string_view key,
                         std::string_view value);

// File versions. A missing or unreadable file (a folder or a device included)
// reads as empty. A write goes through a temporary file in the same folder and
// a rename, so the file is never left half written; it fails (false, file
// unchanged) when the folder is missing or not writable, when the file is
// there but cannot be opened for reading and writing, and when the file
// cannot hold the write: a line break in the section, key or value, a key
// with '=', a key line that would read as a section header, or a key that
// starts with a byte order mark (UTF-8 or UTF-16).
std::string readFile(const std::string& path, std::string_view section, std::string_view key,
                     std::string_view defaultValue, std::size_t bufferSize);
bool writeFile(const std::string& path, std::string_view section, std::string_view key,
               std::string_view value);

} // namespace fw::profile
