// Makes the test server's certificate authority trusted in this Wine prefix, and proves it
// before any download test counts on it: a WinINet HTTPS request to the server must succeed,
// and one to the server whose certificate comes from the untrusted authority must fail.
//
//   trust_test_ca STATE   STATE: the test server's state folder (tls\ca.der, https_port,
//                         rogue_port)
// Exit code 0 when both hold; otherwise 1 and what went wrong on stderr.
#include <windows.h>
#include <wincrypt.h>
#include <wininet.h>

#include <cstdio>
#include <string>

#include "support/engine_runner.h"

namespace {

using kem::test::ReadFileBytes;

// Authorities of earlier server starts carry the same name with another run number.
constexpr wchar_t kOldAuthorities[] = L"Kem ca test authority";

std::string CommonName(PCCERT_CONTEXT cert) {
  char name[256] = {};
  CertGetNameStringA(cert, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), name, sizeof(name));
  return name;
}

bool Trust(const std::string& der) {
  // The user's own Root certificates in the registry. Under Wine a certificate added through
  // the "Root" system store is gone for the next process (that store mirrors the host's
  // authorities); the chain engine reads this registry store beside it.
  HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (!root) {
    std::fprintf(stderr, "the user's Root store cannot be opened (error %lu)\n", GetLastError());
    return false;
  }
  // Authorities of earlier runs go: their keys are gone with their runs.
  while (PCCERT_CONTEXT old = CertFindCertificateInStore(root, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W,
                                                          kOldAuthorities, nullptr)) {
    std::printf("removing the older test authority \"%s\"\n", CommonName(old).c_str());
    if (!CertDeleteCertificateFromStore(old)) break;  // frees old
  }
  PCCERT_CONTEXT added = nullptr;
  const BOOL ok = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING,
                                                   reinterpret_cast<const BYTE*>(der.data()),
                                                   static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                   &added);
  if (!ok) {
    std::fprintf(stderr, "the test authority cannot be added to the Root store (error %lu)\n", GetLastError());
  } else {
    std::printf("trusted \"%s\"\n", CommonName(added).c_str());
    CertFreeCertificateContext(added);
  }
  CertCloseStore(root, 0);
  return ok;
}

// One HTTPS GET of / (any answer proves the handshake); 0 when it succeeded, else the
// WinINet error. lenient: the certificate's authority and revocation are not checked.
DWORD Get(int port, bool lenient = false) {
  HINTERNET session = InternetOpenA("Mozilla/3.0 (compatible)", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  if (!session) return GetLastError();
  DWORD error = 0;
  HINTERNET connection =
      InternetConnectA(session, "127.0.0.1", static_cast<INTERNET_PORT>(port), nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET request =
      connection ? HttpOpenRequestA(connection, "GET", "/", "HTTP/1.0", nullptr, nullptr,
                                    INTERNET_FLAG_SECURE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                        INTERNET_FLAG_NO_UI,
                                    0)
                 : nullptr;
  if (request && lenient) {
    DWORD flags = 0, size = sizeof(flags);
    InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size);
    flags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_REVOCATION;
    InternetSetOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
  }
  if (!request || !HttpSendRequestA(request, nullptr, 0, nullptr, 0)) error = GetLastError();
  if (request) InternetCloseHandle(request);
  if (connection) InternetCloseHandle(connection);
  InternetCloseHandle(session);
  return error;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: trust_test_ca STATE\n");
    return 2;
  }
  const std::string state = kem::test::WindowsPath(argv[1]);
  const std::string der = ReadFileBytes(state + "\\tls\\ca.der");
  const int https = std::atoi(ReadFileBytes(state + "\\https_port").c_str());
  const int rogue = std::atoi(ReadFileBytes(state + "\\rogue_port").c_str());
  if (der.empty() || https == 0 || rogue == 0) {
    std::fprintf(stderr, "the test server made no certificates (is the openssl command there?)\n");
    return 1;
  }
  if (!Trust(der)) return 1;
  const DWORD trusted = Get(https);
  const DWORD untrusted = Get(rogue);
  // The untrusted server itself works: only its authority makes the difference.
  const DWORD lenient = Get(rogue, true);
  std::printf("HTTPS to the trusted server: %s (%lu)\n", trusted == 0 ? "succeeded" : "FAILED", trusted);
  std::printf("HTTPS to the untrusted server: %s (%lu)\n", untrusted != 0 ? "refused" : "ACCEPTED", untrusted);
  std::printf("HTTPS to the untrusted server, its authority not checked: %s (%lu)\n",
              lenient == 0 ? "succeeded" : "FAILED", lenient);
  std::fflush(stdout);
  if (trusted != 0) std::fprintf(stderr, "WinINet does not trust the test authority after it was added\n");
  if (untrusted == 0) std::fprintf(stderr, "WinINet accepts a certificate from an untrusted authority\n");
  if (lenient != 0) std::fprintf(stderr, "the untrusted server does not answer at all\n");
  return trusted == 0 && untrusted != 0 && lenient == 0 ? 0 : 1;
}
