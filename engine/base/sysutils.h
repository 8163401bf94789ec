// The few class-library services the engine relies on: the one general
// exception class and the process-wide number format settings.
#pragma once

#include <exception>
#include <string>

// Every error the system raises derives from this; it carries the message
// that ends up in the log.
class Exception : public std::exception {
public:
    explicit Exception(std::string Message) : FMessage(std::move(Message)) {}
    const std::string& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// Process-wide separators read by the number texts. Both programs set
// ' ' and '.' once at start-up, before any worker thread runs.
struct TFormatSettings {
    char ThousandSeparator = ',';
    char DecimalSeparator = '.';
};

extern TFormatSettings FormatSettings;
