#pragma once
// Files that hold what the operator's data holds: created readable by their owner only; and
// the folders they go to.

#include <cstdio>
#include <filesystem>
#include <string>

namespace kordb {

// Opens file for writing, created with owner-only access whatever the umask. exclusive: fails
// with errno EEXIST when it exists already, so that no other file is ever written into;
// otherwise appends to what it holds.
std::FILE* openPrivate(const std::filesystem::path& file, bool exclusive);

// Paths from and to UTF-8 text, whatever the platform's own encoding.
std::filesystem::path pathFromUtf8(const std::string& s);
std::string pathToUtf8(const std::filesystem::path& p);

// head + tail as one file name. Where that is longer than a file system takes (255 bytes),
// head is cut at a character boundary and ends in "~" and eight hexadecimal digits of a hash
// of the whole of it, so that the name can be made and stays the same for the same head.
std::string fittedFileName(const std::string& head, const std::string& tail);

// The folder error files go to: folder itself when it can be written and is not a system
// folder, otherwise the per-user data folder "KORDB".
std::filesystem::path errorFileFolder(const std::filesystem::path& programFolder);
// Whether folder lies under a prefix that packages install to (/usr, /usr/local, /opt, ...):
// such a folder is never written, whoever runs the program.
bool isSystemFolder(const std::filesystem::path& folder);

// The running executable's folder.
std::filesystem::path executableFolder();

}  // namespace kordb
