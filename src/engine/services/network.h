// The network, as far as names go (downloads come with the media statements).
#pragma once

#include <string>

namespace kem {

class NetworkService {
 public:
  virtual ~NetworkService() = default;
  // The host name of the loopback interface, or the computer name when it has none.
  virtual std::string LoopbackHostName() = 0;
};

}  // namespace kem
