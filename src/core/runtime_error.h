#pragma once

// The program's one run-time error: what went wrong and in which routine. Nothing in the
// program catches it but the top-level report and the About box's launcher.

#include <stdexcept>
#include <string>

namespace zel {

enum class ErrorKind {
    Overflow,
    SubscriptOutOfRange,
    TypeMismatch,
    FloatingPointFault,
};

// The user-facing name of an error kind, e.g. "Overflow".
const char* ErrorKindName(ErrorKind kind);

class RuntimeError : public std::runtime_error {
  public:
    // `where` names the routine in which the error arose; `detail` may add what was found.
    RuntimeError(ErrorKind kind, std::string where, const std::string& detail = {});

    ErrorKind Kind() const { return kind_; }
    const std::string& Where() const { return where_; }

  private:
    ErrorKind kind_;
    std::string where_;
};

}  // namespace zel
