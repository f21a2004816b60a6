// Paths as text in UTF-8, the program's encoding inside.
//
// On Windows a std::filesystem::path holds UTF-16, and its string() and its constructor from a
// std::string go through the ANSI code page: a Chinese name under code page 1252 would turn into
// '?' or throw. u8string() and u8path() convert to and from UTF-8 instead. On POSIX both keep the
// bytes as they are, so names that are not UTF-8 still come out as they went in.
#pragma once

#include <filesystem>
#include <string>

namespace orvane {

inline std::string pathText(const std::filesystem::path& path) { return path.u8string(); }

inline std::filesystem::path textPath(const std::string& utf8) { return std::filesystem::u8path(utf8); }

}  // namespace orvane
