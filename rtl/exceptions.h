// The exception classes of the runtime. Every failure raised by this system derives from
// Exception; what() and Message() give the same text, exactly as it is shown to the user.
#pragma once

#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

#include "rtl/format.h"

namespace rtl {

class Exception : public std::exception {
  public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    // The message made by Format: Exception("Cannot open %s", {name}).
    Exception(std::string_view format, std::initializer_list<FormatArg> args)
        : message_(Format(format, args)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }
    void SetMessage(std::string message) { message_ = std::move(message); }

  private:
    std::string message_;
};

// Declares a class that only gives a failure its own kind.
#define RTL_EXCEPTION_CLASS(Name, Base) \
    class Name : public Base {          \
      public:                           \
        using Base::Base;               \
    }

// A text that does not read as the number, date or time asked for.
RTL_EXCEPTION_CLASS(EConvertError, Exception);
// An index outside a list ("List index out of bounds (%d)") or a refused duplicate.
RTL_EXCEPTION_CLASS(EListError, Exception);
// A value asked for as a kind it cannot be turned into.
RTL_EXCEPTION_CLASS(EInvalidCast, Exception);
// A variant that cannot be converted to the kind asked for.
RTL_EXCEPTION_CLASS(EVariantError, EInvalidCast);
// A number outside the range of its destination.
RTL_EXCEPTION_CLASS(ERangeError, Exception);
// Component naming and ownership errors.
RTL_EXCEPTION_CLASS(EComponentError, Exception);
// Stream and file errors; the messages name the file.
RTL_EXCEPTION_CLASS(EStreamError, Exception);
RTL_EXCEPTION_CLASS(EFCreateError, EStreamError);
RTL_EXCEPTION_CLASS(EFOpenError, EStreamError);
RTL_EXCEPTION_CLASS(EReadError, EStreamError);
RTL_EXCEPTION_CLASS(EWriteError, EStreamError);
// File system operations other than streams (folders, renames, path resolution).
RTL_EXCEPTION_CLASS(EInOutError, Exception);

// The silent abort: unwinds the current operation; the application's default handler swallows
// it without showing anything.
class EAbort : public Exception {
  public:
    EAbort() : Exception("Operation aborted") {}
    using Exception::Exception;
};

#undef RTL_EXCEPTION_CLASS

// Raises EAbort.
[[noreturn]] void Abort();

// Message of EListError for an index outside a list.
[[noreturn]] void ListIndexError(long long index);

}  // namespace rtl
