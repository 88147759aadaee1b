// One entry of an access control list: its mask and its account, kept as
// the SID and as the SID text, account name and domain that the account
// lookup gives, so it can be found again by name on another machine.
#pragma once

#include <string>
#include <vector>

#include "core/base_object.h"

class CAce : public CBaseObject {
public:
    CAce();
    // Copies header, mask and SID of an entry in the common layout
    // (header, mask, SID) and looks its account up.
    CAce(const void* entry, int index);
    ~CAce() override;

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void Dump() override;
    // Also moves an account local to the old machine onto the new one.
    int ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) override;

    // Fills SIDName, Trustee and Domain from the local account lookup. Returns 1.
    int EnumSID(PSID sid);
    // Passes back index and mask, and the SID, found by Trustee on ServerName
    // when the entry holds none. The SID stays owned by the entry. 1 or 0;
    // the description of a failure names the account.
    int Get(PSID& sid, DWORD& mask, int& index);
    // "Domain\Trustee", or the trustee alone when there is no domain.
    std::wstring AccountName() const;

    bool HasSid() const { return !Sid.empty(); }
    PSID GetSid() { return Sid.empty() ? nullptr : Sid.data(); }

    // "S-1-<authority>-<sub>..."; authorities other than 0, 1, 2, 3 and 5
    // give "UnknownAuthority!". Empty for an invalid SID.
    static std::wstring SidText(PSID sid);

    int Index = 0;
    BYTE AceType = 0;
    BYTE AceFlags = 0;
    WORD AceSize = 0;
    std::vector<BYTE> Sid;
    DWORD AccessMask = 0;
    std::wstring SIDName;
    std::wstring Domain;
    std::wstring Trustee;
};
