// Raises the acquisition workers' pause flag for as long as it lives (or until Release): the
// reader and the sampling thread idle meanwhile. Taken by RESET and the exports.
#pragma once

#include <atomic>

namespace zelvox {

class WorkerPause {
public:
    explicit WorkerPause(std::atomic<int>& flag) : flag_(&flag) { flag_->fetch_add(1); }
    WorkerPause(WorkerPause&& other) noexcept : flag_(other.flag_) { other.flag_ = nullptr; }
    WorkerPause(const WorkerPause&) = delete;
    WorkerPause& operator=(const WorkerPause&) = delete;
    WorkerPause& operator=(WorkerPause&&) = delete;
    ~WorkerPause() { Release(); }

    void Release() {
        if (flag_)
            flag_->fetch_sub(1);
        flag_ = nullptr;
    }

private:
    std::atomic<int>* flag_;
};

} // namespace zelvox
