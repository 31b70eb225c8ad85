#include "core/runtime_error.h"

namespace zel {

const char* ErrorKindName(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::Overflow:
            return "Overflow";
        case ErrorKind::SubscriptOutOfRange:
            return "Subscript out of range";
        case ErrorKind::TypeMismatch:
            return "Type mismatch";
        case ErrorKind::FloatingPointFault:
            return "Floating-point fault";
    }
    return "Run-time error";
}

namespace {

std::string Describe(ErrorKind kind, const std::string& where, const std::string& detail) {
    std::string text = std::string(ErrorKindName(kind)) + " in " + where;
    if (!detail.empty()) text += ": " + detail;
    return text;
}

}  // namespace

RuntimeError::RuntimeError(ErrorKind kind, std::string where, const std::string& detail)
    : std::runtime_error(Describe(kind, where, detail)), kind_(kind), where_(std::move(where)) {}

}  // namespace zel
