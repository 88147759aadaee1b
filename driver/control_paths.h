// What the driver takes from a control file as file names and paths. A file
// part of an entry names a file in a run's folder and nothing else: a name
// that could reach another folder or a device is refused, never followed.
#pragma once

#include <string>

// A name that stays in the folder it is joined to: not empty, not "." or
// "..", none of \ / : * ? " < > | nor a control character, not a device name
// (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension), and not
// only dots and blanks.
bool IsPlainFileName(const std::wstring& name);

// A path that names its place by itself and takes no folder in front: one
// with a drive ("D:\Reports\run.log", any text with ":"), a UNC path, or one
// from the root ("\Reports\run.log"; in the simulated world an absolute host
// path).
bool IsFullPath(const std::wstring& path);

// The text after the last "\" or "/" (the whole text without one).
std::wstring LastPathPart(const std::wstring& path);

// Whether two folder paths name the same folder as written: letter case, "/"
// for "\", doubled and trailing separators, "." and ".." do not count.
bool SameFolder(const std::wstring& a, const std::wstring& b);
