#include "bed_support.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>

std::uint16_t BedPort(const char* name)
{
    const char* text = std::getenv(name);
    if (text == nullptr)
        return 0;
    const long value = std::strtol(text, nullptr, 10);
    return value > 0 && value < 65536 ? static_cast<std::uint16_t>(value) : 0;
}

std::wstring ExeFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

bool WriteNetcanIni(const std::wstring& folder, std::uint16_t port, const char* interfaceName)
{
    std::FILE* file = _wfopen((folder + L"netcan.ini").c_str(), L"wb");
    if (file == nullptr)
        return false;
    std::fprintf(file, "[Connection]\r\nHost=127.0.0.1\r\nPort=%u\r\nInterface=%s\r\nTimeoutMs=2000\r\n",
                 static_cast<unsigned>(port), interfaceName);
    return std::fclose(file) == 0;
}

std::string AskSlave(std::uint16_t controlPort, const std::string& command)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return "";
    std::string answer;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(controlPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    DWORD timeout = 1000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    if (s != INVALID_SOCKET && connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string line = command + "\n";
        send(s, line.data(), static_cast<int>(line.size()), 0);
        char c = 0;
        for (int i = 0; i < 4096 && recv(s, &c, 1, 0) == 1 && c != '\n'; ++i)
            answer += c;
    }
    if (s != INVALID_SOCKET)
        closesocket(s);
    WSACleanup();
    return answer;
}
