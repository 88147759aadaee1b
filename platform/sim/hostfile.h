// Host files that the simulated world keeps its state in (world.ini,
// machine.ini, HKLM.reg). Not part of the Win32 surface.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace sim {

// The host path of a text name (names are UTF-8 on the host).
std::filesystem::path ToHostPath(const std::wstring& name);
std::wstring HostName(const std::filesystem::path& path);

bool ReadHostFile(const std::filesystem::path& path, std::string& bytes);
// Writes a temporary file beside the target and renames it over the target,
// so a reader sees either the old or the new file, never a part.
bool WriteHostFileAtomic(const std::filesystem::path& path, const std::string& bytes);

// Text of a file: UTF-16LE or UTF-16BE with byte-order mark, otherwise UTF-8
// (with or without mark; bytes that are not UTF-8 read as Latin-1).
std::wstring DecodeText(const std::string& bytes);
// Lines ending in LF or CR LF, without their ends.
std::vector<std::wstring> SplitLines(const std::wstring& text);

}  // namespace sim
