#ifdef _WIN32
#include "windows_folders.h"

#include <windows.h>

#include <vector>

#include "wide_text.h"

namespace orvane {

namespace {

std::string message(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string units;
  for (DWORD i = 0; i < n; ++i) units += static_cast<char16_t>(text[i]);
  if (text) LocalFree(text);
  while (!units.empty() && (units.back() == u'\n' || units.back() == u'\r' || units.back() == u' '))
    units.pop_back();
  std::string out = utf8_from_wide(units);
  return out.empty() ? "Windows error " + std::to_string(code) : out;
}

// A refusal that goes away once another process closes its handle.
bool in_use(DWORD code) {
  return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION ||
         code == ERROR_ACCESS_DENIED || code == ERROR_DIR_NOT_EMPTY;
}

bool gone(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

// Deletes one entry (a file, an empty folder, a link), clearing a read-only attribute and retrying
// while the entry is in use.
bool remove_entry(const std::wstring& path, DWORD attributes, DWORD& error) {
  const bool folder = attributes & FILE_ATTRIBUTE_DIRECTORY;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    DWORD rest = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(path.c_str(), rest ? rest : FILE_ATTRIBUTE_NORMAL);
  }
  DWORD waited = 0, pause = 10;
  for (;;) {
    if (folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str())) return true;
    error = GetLastError();
    if (gone(error)) return true;
    if (!in_use(error) || waited >= kRetryMs) return false;
    Sleep(pause);
    waited += pause;
    pause = pause < 200 ? pause * 2 : 200;
  }
}

bool remove_path(const std::wstring& path, DWORD& error, std::wstring& failed) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = GetLastError();
    if (gone(error)) return true;
    failed = path;
    return false;
  }
  bool ok = true;
  // A link is removed as itself; only a real folder is emptied first.
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    std::vector<std::wstring> children;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileExW((path + L"\\*").c_str(), FindExInfoBasic, &entry,
                                   FindExSearchNameMatch, nullptr, 0);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") children.push_back(path + L"\\" + name);
      } while (FindNextFileW(find, &entry));
      FindClose(find);
    }
    for (const std::wstring& child : children) ok = remove_path(child, error, failed) && ok;
    if (!ok) return false;
  }
  if (!remove_entry(path, attributes, error)) {
    failed = path;
    return false;
  }
  return true;
}

}  // namespace

std::wstring windows_path(const std::string& utf8) {
  std::wstring path = wstring_from_utf8(utf8);
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
  if (path.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return path;
}

FolderMade make_folder(const std::string& utf8, std::string* why) {
  const std::wstring path = windows_path(utf8);
  if (CreateDirectoryW(path.c_str(), nullptr)) return FolderMade::made;
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS) return FolderMade::exists;
  if (why) *why = message(error);
  return FolderMade::failed;
}

bool remove_tree(const std::string& utf8, std::string* why) {
  DWORD error = 0;
  std::wstring failed;
  if (remove_path(windows_path(utf8), error, failed)) return true;
  if (why) {
    std::u16string units(failed.begin(), failed.end());
    *why = utf8_from_wide(units) + ": " + message(error);
  }
  return false;
}

}  // namespace orvane
#endif
