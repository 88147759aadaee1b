// Resource names turned into file names.
#pragma once

#include <string>

// A text that can stand as a file name: every character a Windows file
// name cannot hold, a trailing dot or blank (which Windows drops), and the
// comma that separates the parts of a control-file entry become '_'. An
// empty name becomes "_".
std::wstring FileNameOf(const std::wstring& name);
