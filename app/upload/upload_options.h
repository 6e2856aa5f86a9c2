#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelk::upload {

struct TUploadOptions {
    int Port = 1;             // COM number, mapped like the window's
    std::string Device;       // an explicit device path, overriding Port
    int Baud = 115200;
    std::string Start = "0100h";
    double TimeoutSeconds = 30;  // 0 waits forever
    bool Quiet = false;
    std::string File;
};

// A command line that cannot be used; what() is the reason.
class EUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TCommand { Upload, Help, Version };

struct TParsed {
    TCommand Command = TCommand::Upload;
    TUploadOptions Options;
};

// The window's list of rates; the only ones the device is expected to run at.
const std::vector<int>& SupportedBauds();

TParsed ParseCommandLine(const std::vector<std::string>& args);
std::string HelpText(const std::string& program);

}  // namespace zelk::upload
