#include "core/server_name.h"

#include "platform/text.h"

std::wstring BareServerName(const std::wstring& server) {
    size_t start = server.find_first_not_of(L'\\');
    return start == std::wstring::npos ? std::wstring() : server.substr(start);
}

int ReplaceServerText(std::wstring& text, const std::wstring& oldServer, const std::wstring& newServer) {
    if (oldServer.empty()) return 0;
    int count = 0;
    for (size_t pos = 0;;) {
        size_t found = corvan::FindNoCase(text.substr(pos), oldServer);
        if (found == std::wstring::npos) break;
        text.replace(pos + found, oldServer.size(), newServer);
        pos += found + newServer.size();
        ++count;
    }
    return count;
}

int ReplaceServerPart(std::wstring& text, const std::wstring& oldServer, const std::wstring& newServer) {
    const std::wstring from = L"\\\\" + BareServerName(oldServer);
    if (from.size() == 2 || !corvan::StartsWithNoCase(text, from)) return 0;
    if (text.size() > from.size() && text[from.size()] != L'\\') return 0;
    text.replace(0, from.size(), L"\\\\" + BareServerName(newServer));
    return 1;
}

int ReplaceServerWord(std::wstring& name, const std::wstring& oldServer, const std::wstring& newServer) {
    const std::wstring from = BareServerName(oldServer);
    if (from.empty() || !corvan::EqualsNoCase(name, from)) return 0;
    name = BareServerName(newServer);
    return 1;
}
