// The permissions of a shared resource: a security descriptor taken apart
// into its system and discretionary lists, saved with the resource, and
// rebuilt for the system call that re-creates it.
#pragma once

#include "core/base_object.h"
#include "security/acl.h"

class CSecurityDescriptor : public CBaseObject {
public:
    CSecurityDescriptor();
    ~CSecurityDescriptor() override;
    CSecurityDescriptor(const CSecurityDescriptor&) = delete;
    CSecurityDescriptor& operator=(const CSecurityDescriptor&) = delete;

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void Dump() override;
    int ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) override;

    // Reads a self-relative or absolute descriptor owned by the caller.
    int Enum(PSECURITY_DESCRIPTOR descriptor);
    // Builds an absolute descriptor from the two lists; the object keeps
    // ownership. When a list cannot be built the result is still 1 but no
    // descriptor is passed back (null), HasDescriptor() is false and the
    // list's failure is in this object's error fields.
    int Get(PSECURITY_DESCRIPTOR& descriptor);
    bool HasDescriptor() const { return built_ != nullptr; }

    CAcl SystemAcl;
    CAcl DiscretionaryAcl;

private:
    void FreeBuilt();

    // Point into the source descriptor; valid only while the caller keeps it.
    PSID owner_ = nullptr;
    PSID group_ = nullptr;
    PSECURITY_DESCRIPTOR built_ = nullptr;
};
