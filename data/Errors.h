#pragma once

#include <QString>
#include <exception>
#include <string>

// The program's errors. Each one remembers the address of the code that raised it, so that the
// start-up error box can name the module and the offset the way the user's report needs them.
class Exception : public std::exception {
public:
    explicit Exception(const QString& message);
    const QString& message() const { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }
    // Address of the instruction after the call that constructed the error.
    const void* raiseAddress() const { return raiseAddress_; }

protected:
    Exception(const QString& message, const void* raiseAddress);

private:
    QString message_;
    std::string utf8_;
    const void* raiseAddress_;
};

// An error the dataset layer detects itself; its text starts with the table object's name.
class EDatabaseError : public Exception {
public:
    explicit EDatabaseError(const QString& message);
};

// An error the database engine reports, with the engine's own message.
class EEngineError : public Exception {
public:
    // The code of a request a server refuses for good, by its own check of the values: sent
    // again it is refused again, unlike one that met a lost connection or a busy lock.
    static constexpr int kRefusedForGood = -1;

    EEngineError(const QString& message, int code);
    int code() const { return code_; }

private:
    int code_;
};

// Whether e is an EEngineError with EEngineError::kRefusedForGood.
bool refusedForGood(const std::exception& e);

// A value that cannot be turned into the type asked for (a null into text).
class EVariantError : public Exception {
public:
    explicit EVariantError(const QString& message);
};

// The class name of an error as the error boxes show it, without namespaces.
QString exceptionTypeName(const std::exception& e);
