// What the two Linux builds (gtk, headless) share: files through POSIX calls
// and our own profile engine, downloads through libcurl, signatures through
// OpenSSL, the local clock, the compiled-in resources and the diagnostic
// output on standard error. The desktop is each build's own.
#pragma once

#include "framework/ports/platform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fw {

class LinuxPlatform : public Platform {
public:
    LinuxPlatform();

    DateTime localNow() override;
    void writeDiagnostic(const std::string& line) override;

    std::string exeFolder() override;
    char pathSeparator() const override { return '/'; }
    std::vector<std::uint8_t> resource(int id, const std::string& type) override;
    bool pathExists(const std::string& path) override;
    bool createFolder(const std::string& path) override;
    std::vector<std::string> folderEntries(const std::string& path) override;
    bool removeFile(const std::string& path) override;
    bool readFile(const std::string& path, std::string& bytes, std::size_t maxBytes) override;
    // held_file.cpp.
    std::unique_ptr<HeldFile> holdFile(const std::string& path) override;
    // framework/linux/folder_lock.h; the descriptor is kept for the run.
    void holdFolderLock() override;
    // framework/linux/player_folder.cpp.
    std::string playerLogPath() override;
    std::string readProfileString(const std::string& section, const std::string& key,
                                  const std::string& defaultValue, std::size_t bufferSize,
                                  const std::string& path) override;
    bool writeProfileString(const std::string& section, const std::string& key,
                            const std::string& value, const std::string& path) override;

    // A watched download waits in awaitTransfer.
    DownloadOutcome download(const std::string& url, const std::string& path,
                             DownloadWatch* watch = nullptr,
                             const DownloadBounds& bounds = {}) override;
    // replacement_file.cpp, signature.cpp.
    bool removeLeftover(const std::string& path) override;
    bool verifySignature(const std::string& message, const std::string& signatureBase64,
                         const std::string& publicKeyPem) override;

    // Starts the program held open as `fd` (named `path`, its argv[0])
    // without arguments: a held file's start. False when it could not start.
    virtual bool startHeld(int fd, const std::string& path) = 0;

protected:
    // Runs again and again while a watched download's transfer goes on: lets
    // the desktop's events through and returns within about 100 ms.
    virtual void awaitTransfer() = 0;
    // Runs on the transfer's thread when it has ended, to cut the wait short.
    virtual void transferEnded() {}

private:
    std::string exeFolder_;
    int folderLock_ = -1;
};

} // namespace fw
