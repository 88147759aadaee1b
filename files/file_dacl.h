// A file's or folder's own access list: the entries set on it rather than
// inherited, in their order, and whether it is protected from inheritance.
// Kept only for objects that have one; the others inherit on the target as
// they did on the source.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/win32.h"

class CFileDacl {
public:
    struct Entry {
        BYTE Type = 0;   // allowed or denied
        BYTE Flags = 0;  // inheritance flags
        DWORD Mask = 0;
        std::wstring Sid;      // "S-1-5-..."
        std::wstring Account;  // "DOMAIN\name" as the source machine named it; empty when unknown
        // An account of the source machine named on another one: its SID
        // there is no SID of the target, so only its name can be used.
        bool Moved = false;
    };

    // Reads the security of the object at longPath (accounts named on
    // server). 0 and own null when the object only inherits, else the Win32
    // error; `call` names the call that failed.
    static DWORD Read(const std::wstring& longPath, const std::wstring& server, std::unique_ptr<CFileDacl>& own,
                      std::wstring& call);
    // Sets the list on the object, each account found again by name on
    // server, else by its SID. 0 or the Win32 error.
    DWORD Apply(const std::wstring& longPath, const std::wstring& server, std::wstring& call) const;

    // Whether every account can be found on server, without setting
    // anything. 0 or ERROR_NONE_MAPPED with the call that failed.
    DWORD Check(const std::wstring& server, std::wstring& call) const;

    // The accounts local to the old machine become the new machine's.
    // The number of entries changed.
    int ReplaceServerName(const std::wstring& oldServer, const std::wstring& newServer);

    // One text per entry: type, flags and mask in hex, SID, account, joined by commas.
    std::vector<std::wstring> Encode() const;
    // False when a text is not of that form.
    bool Decode(const std::vector<std::wstring>& texts);

    DWORD Protected = 0;
    std::vector<Entry> Entries;
    // False when a stored list could not be read back.
    bool Valid = true;
};
