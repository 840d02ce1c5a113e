// The failure of a statement: raised by a statement handler or by the operations it
// calls, caught by the interpreter, which shows the message with the statement's
// source position (unless silent) and ends the script.
#pragma once

#include <stdexcept>
#include <string>

namespace kem {

class StatementError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace kem
