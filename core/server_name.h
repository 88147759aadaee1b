// Server names inside the texts of loaded objects, for restoring onto a
// machine other than the one a backup was taken from. Names are compared
// ignoring case, as Windows compares them, and given with or without their
// leading backslashes.
#pragma once

#include <string>

// The name without leading backslashes: "\\SRV01" gives "SRV01".
std::wstring BareServerName(const std::wstring& server);

// Every occurrence of the old server text, wherever it stands. For fields
// that hold nothing but a server text (ServerName).
int ReplaceServerText(std::wstring& text, const std::wstring& oldServer, const std::wstring& newServer);

// The server part that begins a path or a printer name: "\\OLD\D$\Data"
// becomes "\\NEW\D$\Data"; "\\OLDER\..." and "D:\OLD" are left alone.
int ReplaceServerPart(std::wstring& text, const std::wstring& oldServer, const std::wstring& newServer);

// A name that is the old machine's own (the domain of its local accounts)
// becomes the new machine's.
int ReplaceServerWord(std::wstring& name, const std::wstring& oldServer, const std::wstring& newServer);
