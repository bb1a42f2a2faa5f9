// Whether an object still lives, for code that runs a handler which may
// destroy it: the object holds an AliveToken and ends it first thing in its
// destructor; the caller takes a watch before the handler and touches
// nothing of the object once the watch says it is gone.
#pragma once

#include <memory>
#include <utility>

namespace fw {

class AliveToken {
public:
    // Copied freely; outlives the object it watches.
    class Watch {
    public:
        bool alive() const { return *flag_; }

    private:
        friend class AliveToken;
        explicit Watch(std::shared_ptr<const bool> flag) : flag_(std::move(flag)) {}
        std::shared_ptr<const bool> flag_;
    };

    AliveToken() = default;
    ~AliveToken() { end(); }
    AliveToken(const AliveToken&) = delete;
    AliveToken& operator=(const AliveToken&) = delete;

    Watch watch() const { return Watch(flag_); }
    bool alive() const { return *flag_; }
    // The object is going: every watch says so from now on.
    void end() { *flag_ = false; }

private:
    std::shared_ptr<bool> flag_ = std::make_shared<bool>(true);
};

} // namespace fw
