#include "data/Errors.h"

#include <cstdlib>
#include <cxxabi.h>
#include <memory>
#include <typeinfo>

// Every constructor is kept out of line so that its return address lies in the code that
// raised the error.
#define RAISE_ADDRESS __builtin_extract_return_addr(__builtin_return_address(0))

Exception::Exception(const QString& message, const void* raiseAddress)
    : message_(message), utf8_(message.toStdString()), raiseAddress_(raiseAddress) {}

__attribute__((noinline)) Exception::Exception(const QString& message)
    : Exception(message, RAISE_ADDRESS) {}

__attribute__((noinline)) EDatabaseError::EDatabaseError(const QString& message)
    : Exception(message, RAISE_ADDRESS) {}

__attribute__((noinline)) EEngineError::EEngineError(const QString& message, int code)
    : Exception(message, RAISE_ADDRESS), code_(code) {}

__attribute__((noinline)) EVariantError::EVariantError(const QString& message)
    : Exception(message, RAISE_ADDRESS) {}

bool refusedForGood(const std::exception& e) {
    const auto* engine = dynamic_cast<const EEngineError*>(&e);
    return engine && engine->code() == EEngineError::kRefusedForGood;
}

QString exceptionTypeName(const std::exception& e) {
    const char* mangled = typeid(e).name();
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
    QString name = QString::fromLatin1(status == 0 && demangled ? demangled.get() : mangled);
    const qsizetype colons = name.lastIndexOf(QLatin1String("::"));
    return colons >= 0 ? name.mid(colons + 2) : name;
}
