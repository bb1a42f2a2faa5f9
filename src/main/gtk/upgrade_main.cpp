// The Linux upgrade program (update/upgrade): the rules of src/upgrader on
// POSIX calls, the launcher's own profile engine and replacement file, and a
// GTK message box. No browser engine: only GTK is linked.
#include "framework/linux/folder_lock.h"
#include "framework/linux/profile.h"
#include "framework/linux/replacement_file.h"
#include "framework/linux/spawn.h"
#include "framework/portable/player_log.h"
#include "launcher_identity.h"
#include "upgrader/Upgrader.h"

#include <gtk/gtk.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

// A test build waits less (cmake/gtk.cmake).
#ifndef UPGRADE_WAIT_MS
#define UPGRADE_WAIT_MS 30000
#endif

namespace {

std::string failure(const std::string& what, int error) {
    return what + ": " + std::strerror(error) + " (errno " + std::to_string(error) + ")";
}

class LinuxSystem final : public upgrader::System {
public:
    ~LinuxSystem() override { releaseFolder(); }

    char separator() const override { return '/'; }
    std::string launcherName() const override { return "launcher"; }

    std::string ownPath() override {
        std::error_code ec;
        return std::filesystem::read_symlink("/proc/self/exe", ec).string();
    }

    bool readFile(const std::string& path, std::string& bytes, std::string& why) override {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return (why = failure("open " + path, errno)), false;
        bytes.clear();
        char buffer[1 << 16];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                why = failure("read " + path, errno);
                ::close(fd);
                return false;
            }
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(fd);
        return true;
    }

    Claim claimFolder(const std::string& folder, int waitMs, std::string& why) override {
        lock_ = fw::openFolderLock(folder);
        if (lock_ < 0) return (why = failure("lock file in " + folder, errno)), Claim::Failed;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            if (::flock(lock_, LOCK_EX | LOCK_NB) == 0) return Claim::Free;
            if (errno != EWOULDBLOCK && errno != EINTR)
                return (why = failure("lock " + folder, errno)), Claim::Failed;
            if (std::chrono::steady_clock::now() >= deadline) return Claim::Busy;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    void releaseFolder() override {
        if (lock_ >= 0) ::close(lock_);
        lock_ = -1;
    }

    bool replaceFile(const std::string& path, std::string_view bytes, std::string& why) override {
        errno = 0;
        fw::ReplacementFile file(path);
        if (file.ok() && file.write(bytes.data(), bytes.size()) && file.commit()) return true;
        return (why = failure("replace " + path, errno)), false;
    }

    bool writeVersion(const std::string& ini, const std::string& version,
                      std::string& why) override {
        errno = 0;
        if (fw::profile::writeFile(ini, "common", "version", version)) return true;
        return (why = failure("write [common] version to " + ini, errno)), false;
    }

    bool start(const std::string& program, const std::string& folder, std::string& why) override {
        // As the launcher starts programs (framework/linux/spawn.h).
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        pid_t pid = 0;
        const int failed = fw::spawnProgram(program.c_str(), argv, -1, folder.c_str(), pid);
        if (failed) why = failure("start " + program, failed);
        return failed == 0;
    }

    void tell(const std::string& title, const std::string& text) override {
        std::fprintf(stderr, "upgrade: %s\n", text.c_str());
        if (!gtk_init_check(nullptr, nullptr)) return;
        GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                                GTK_BUTTONS_OK, "%s", text.c_str());
        gtk_window_set_title(GTK_WINDOW(box), title.c_str());
        gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
        gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
        gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
        gtk_dialog_run(GTK_DIALOG(box));
        gtk_widget_destroy(box);
    }

    void log(const std::string& line) override {
        std::fprintf(stderr, "upgrade: %s\n", line.c_str());
        const std::time_t now = std::time(nullptr);
        std::tm t{};
        localtime_r(&now, &t);
        fw::appendPlayerLog(
            fw::playerLogPathFor(LAUNCHER_BRAND_ID_TEXT),
            {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec}, "upgrade",
            line);
    }

private:
    int lock_ = -1;
};

} // namespace

int main() {
    LinuxSystem system;
    return upgrader::run(system, {LAUNCHER_BRAND_TEXT, UPGRADE_WAIT_MS});
}
