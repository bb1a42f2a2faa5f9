// Port: other programs: starting one, and the default browser.
#pragma once

#include <string>

namespace fw {

class Processes {
public:
    virtual ~Processes() = default;

    // Starts a program from a command line in a normal window with the focus;
    // does not wait. False when the program could not be started.
    virtual bool startProcess(const std::string& commandLine) = 0;
    // Windows starts any .exe; elsewhere a downloaded program needs its
    // execute permission before it can be started.
    virtual void markExecutable(const std::string& path) { (void)path; }
    // Opens an address in the user's default browser; failures are ignored.
    virtual void openUrl(const std::string& address) = 0;
};

} // namespace fw
