// A printer's default print settings: the public members of a DEVMODEW,
// kept field by field, and the driver's private bytes that follow them.
#pragma once

#include <string>
#include <vector>

#include "core/base_object.h"

class CDeviceMode : public CBaseObject {
public:
    CDeviceMode();
    ~CDeviceMode() override;
    CDeviceMode(const CDeviceMode&) = delete;
    CDeviceMode& operator=(const CDeviceMode&) = delete;

    int LoadProperty(CObjectStore& store) override;
    int SaveProperties(CObjectStore& store) override;
    void Dump() override;

    // Copies the members that lie within the block's dmSize and the
    // dmDriverExtra private bytes after them. Returns 1.
    int Enum(const DEVMODEW* mode);
    // Builds a block of Size plus private bytes, owned by this object; null
    // when there is no device mode (Size 0, or a size that does not end on a
    // member of DEVMODEW). Returns 1.
    int Get(DEVMODEW*& mode);

    std::wstring DeviceName;
    WORD SpecVersion = 0;
    WORD DriverVersion = 0;
    WORD Size = 0;
    WORD DriverExtra = 0;
    DWORD Fields = 0;
    SHORT Orientation = 0;
    SHORT PaperSize = 0;
    SHORT PaperLength = 0;
    SHORT PaperWidth = 0;
    SHORT Scale = 0;
    SHORT Copies = 0;
    SHORT DefaultSource = 0;
    SHORT PrintQuality = 0;
    SHORT Color = 0;
    SHORT Duplex = 0;
    SHORT YResolution = 0;
    SHORT TTOption = 0;
    SHORT Collate = 0;
    std::wstring FormName;
    WORD LogPixels = 0;
    DWORD BitsPerPel = 0;
    DWORD PelsWidth = 0;
    DWORD PelsHeight = 0;
    DWORD DisplayFlags = 0;
    DWORD DisplayFrequency = 0;
    DWORD ICMMethod = 0;
    DWORD ICMIntent = 0;
    DWORD MediaType = 0;
    DWORD DitherType = 0;
    DWORD PanningWidth = 0;
    DWORD PanningHeight = 0;
    // The driver's private bytes, stored as "DriverData".
    std::vector<BYTE> DriverData;

private:
    std::vector<BYTE> block_;
};
