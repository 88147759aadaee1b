// Named registry values, one class per data type. A value is read through
// an open handle of its key (or opens the key itself), saved as one store
// section, re-created from it and written back.
#pragma once

#include <string>
#include <vector>

#include "registry/reg_obj.h"

// After Enum or Add, ParentKeyName holds the key argument and KeyName the
// value name. Handles passed in belong to the caller and are never closed here.
class CRegValue : public CRegObj {
public:
    CRegValue() = default;
    explicit CRegValue(const std::wstring& serverName) : CRegObj(serverName) {}

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void Dump() override;

    // These three are the open step of the leaves: nothing is opened when
    // `handle` is already open.
    int Enum(const std::wstring& keyPath, const std::wstring& valueName, HKEY& handle) override;
    int Add(const std::wstring& keyPath, const std::wstring& valueName, HKEY& handle) override;
    int Apply(HKEY& handle) override;
    // Renames the value.
    void ReplaceInValue(const std::wstring& oldText, const std::wstring& newText) override;
    void WriteReport(CObjectStore& store, DWORD mode) override;

    std::wstring ValueName;

protected:
    // ValueName, or "(default)" for the key's default value.
    std::wstring DisplayName() const;
    // Saves the section: class, parent, the value entry, the type when one
    // is given, the names, the base keys.
    void SaveValueSection(CObjectStore& store, const wchar_t* className, const wchar_t* valueKey,
                          const std::wstring& encodedValue, const DWORD* type = nullptr);
    // What follows the value entry in the section.
    void SaveValueNames(CObjectStore& store, const DWORD* type);
    // Writes `size` bytes of `data` as `type` under ValueName, opening
    // ParentKeyName first when `handle` is null.
    int WriteValue(const std::wstring& function, HKEY& handle, DWORD type, const BYTE* data, DWORD size);
    // First query of the variable-size kinds: type and byte size. Records the
    // failure or, unless typeName is null, a type other than expectedType under `function`.
    int QueryTypeAndSize(const std::wstring& function, HKEY handle, const std::wstring& valueName, DWORD expectedType,
                         const wchar_t* typeName, DWORD& size, DWORD* type = nullptr);
    // Second query, into a buffer of `size` bytes.
    int QueryData(const std::wstring& function, HKEY handle, const std::wstring& valueName, std::vector<BYTE>& data,
                  DWORD size);

private:
    struct OpenTexts;
    int OpenKey(const std::wstring& function, const std::wstring& keyPath, REGSAM access, const OpenTexts& texts,
                HKEY& handle);
};

class CRegValueDword : public CRegValue {
public:
    CRegValueDword() = default;
    explicit CRegValueDword(const std::wstring& serverName) : CRegValue(serverName) {}

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void Dump() override;
    int Enum(const std::wstring& keyPath, const std::wstring& valueName, HKEY& handle) override;
    int Apply(HKEY& handle) override;
    void WriteReport(CObjectStore& store, DWORD mode) override;

    DWORD Value = 0;
};

// REG_SZ; CRegValueExpandSz shares everything but the type and class name.
class CRegValueString : public CRegValue {
public:
    CRegValueString() = default;
    explicit CRegValueString(const std::wstring& serverName) : CRegValue(serverName) {}

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void Dump() override;
    int Enum(const std::wstring& keyPath, const std::wstring& valueName, HKEY& handle) override;
    int Apply(HKEY& handle) override;
    void PrintList(const std::wstring& valueName) override;
    void ReplaceInValue(const std::wstring& oldText, const std::wstring& newText) override;
    int FindValue(const std::wstring& name, std::wstring& buffer) override;
    void WriteReport(CObjectStore& store, DWORD mode) override;

    std::wstring Value;

protected:
    virtual const wchar_t* ClassName() const { return L"CRegValueString"; }
    virtual DWORD RegType() const { return REG_SZ; }
    virtual const wchar_t* RegTypeName() const { return L"REG_SZ"; }
};

// Kept unexpanded.
class CRegValueExpandSz : public CRegValueString {
public:
    CRegValueExpandSz() = default;
    explicit CRegValueExpandSz(const std::wstring& serverName) : CRegValueString(serverName) {}

protected:
    const wchar_t* ClassName() const override { return L"CRegValueExpandSz"; }
    DWORD RegType() const override { return REG_EXPAND_SZ; }
    const wchar_t* RegTypeName() const override { return L"REG_EXPAND_SZ"; }
};

class CRegValueBinary : public CRegValue {
public:
    CRegValueBinary() = default;
    explicit CRegValueBinary(const std::wstring& serverName) : CRegValue(serverName) {}

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void Dump() override;
    int Enum(const std::wstring& keyPath, const std::wstring& valueName, HKEY& handle) override;
    int Apply(HKEY& handle) override;
    void WriteReport(CObjectStore& store, DWORD mode) override;

    std::vector<BYTE> Value;
};

class CRegValueMultiSz : public CRegValue {
public:
    CRegValueMultiSz() = default;
    explicit CRegValueMultiSz(const std::wstring& serverName) : CRegValue(serverName) {}

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void Dump() override;
    // Appends the texts read to saValue.
    int Enum(const std::wstring& keyPath, const std::wstring& valueName, HKEY& handle) override;
    // Opens keyPath for writing and writes saValue under valueName.
    int Add(const std::wstring& keyPath, const std::wstring& valueName, HKEY& handle) override;
    int Apply(HKEY& handle) override;
    void ReplaceInValue(const std::wstring& oldText, const std::wstring& newText) override;
    void WriteReport(CObjectStore& store, DWORD mode) override;

    void GetStrings(std::vector<std::wstring>& list) const;
    void SetStrings(const std::vector<std::wstring>& list);
    void SetNameAndStrings(const std::vector<std::wstring>& list, const std::wstring& name);

    std::vector<std::wstring> saValue;

private:
    // Every text with its NUL, then one more NUL.
    std::vector<WCHAR> MultiStringBuffer() const;
};

// Any other type (REG_NONE, REG_QWORD, REG_RESOURCE_LIST, ...): kept as its
// type number and bytes, saved under "Type" and "Value" and written back as
// read. Readers that know this class only by name pass its entries over.
class CRegValueUnknown : public CRegValue {
public:
    CRegValueUnknown() = default;
    explicit CRegValueUnknown(const std::wstring& serverName) : CRegValue(serverName) {}

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    int Enum(const std::wstring& keyPath, const std::wstring& valueName, HKEY& handle) override;
    int Apply(HKEY& handle) override;

    DWORD Type = REG_NONE;
    std::vector<BYTE> Value;
};
