// The simulated process's current directory and the full-path rules that
// every file call applies before sim::MapPath.
#pragma once

#include <string>

namespace sim {

// As GetCurrentDirectoryW reports it: a Windows path (D:\Mig) once the
// process has moved onto a machine's drive, the host's folder at start.
std::wstring CurrentDirectory();
void SetCurrentDirectoryText(const std::wstring& path);

// Joins a relative path onto the current directory and resolves "." and "..".
std::wstring FullPathName(const std::wstring& path);

// The three forms a full path can take.
enum class PathKind { Unc, Drive, Host };
PathKind KindOf(const std::wstring& fullPath);

}  // namespace sim
