// Paths of the directory backup. Trees, backup files, logs and reports keep
// the plain form (D:\Data, \\SRV01\D$\Data); the file calls get the long
// form (\\?\D:\Data, \\?\UNC\SRV01\D$\Data), which lifts the 260-character
// limit and takes every name literally.
#pragma once

#include <string>

// The long form of a drive or UNC path; any other text is returned as it is.
std::wstring LongPathForm(const std::wstring& plain);

// folder + "\" + name, without doubling a backslash that ends the folder.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// One path component, as a listing reports a file's name: not empty, not
// "." or "..", no separator, none of : * ? " < > | and no control character.
bool IsFileNameInTree(const std::wstring& name);

// Whether path is folder itself or lies below it, ignoring case; neither may
// hold "." or ".." components.
bool PathIsWithin(const std::wstring& path, const std::wstring& folder);

// "D:\Data" of the local machine as the machine's administrative share:
// "\\SRV01\D$\Data". The text must be a drive path.
std::wstring AdministrativeSharePath(const std::wstring& server, const std::wstring& drivePath);

// A share path with nothing below the share ("\\SRV01\D$"): the root of a volume.
bool IsShareRoot(const std::wstring& path);

// The volume a path lies on: "\\SRV01\D$" of "\\SRV01\D$\Data", "D:" of
// "D:\Data"; empty for any other text.
std::wstring ShareRootOf(const std::wstring& path);

// A drive or UNC path in plain form, without "." or ".." components.
bool IsFullPlainPath(const std::wstring& path);

// The last component of a path.
std::wstring FolderNameOf(const std::wstring& path);
