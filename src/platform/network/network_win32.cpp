#include "platform/network/network.h"

#include <winsock2.h>
#include <windows.h>

namespace kem::platform {
namespace {

class Win32NetworkService final : public NetworkService {
 public:
  std::string LoopbackHostName() override {
    std::string name;
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) == 0) {
      in_addr loopback{};
      loopback.s_addr = htonl(INADDR_LOOPBACK);
      if (hostent* h = gethostbyaddr(reinterpret_cast<const char*>(&loopback), sizeof(loopback), AF_INET))
        if (h->h_name) name = h->h_name;
      WSACleanup();
    }
    if (name.empty()) {
      char buf[MAX_COMPUTERNAME_LENGTH + 1] = {};
      DWORD n = sizeof(buf);
      if (GetComputerNameA(buf, &n)) name.assign(buf, n);
    }
    return name;
  }
};

}  // namespace

std::unique_ptr<NetworkService> CreateNetworkService() { return std::make_unique<Win32NetworkService>(); }

}  // namespace kem::platform
