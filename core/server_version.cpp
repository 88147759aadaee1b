// Kept apart from base_object.cpp so that only programs that ask for the
// version link the network calls.
#include <vector>

#include "core/base_object.h"

int CBaseObject::GetServerMajorVersion(DWORD& majorVersion) {
    std::vector<WCHAR> server(ServerName.begin(), ServerName.end());
    server.push_back(L'\0');
    LPBYTE buffer = nullptr;
    NET_API_STATUS status = NetServerGetInfo(ServerName.empty() ? nullptr : server.data(), 101, &buffer);
    int ok = 0;
    if (status == NERR_Success && buffer) {
        majorVersion = reinterpret_cast<SERVER_INFO_101*>(buffer)->sv101_version_major;
        ok = 1;
    }
    if (buffer) NetApiBufferFree(buffer);
    return ok;
}
