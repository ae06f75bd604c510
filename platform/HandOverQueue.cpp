#include "platform/HandOverQueue.h"

namespace tc::platform {

void HandOverQueue::push(Task task) {
    std::lock_guard lock(mutex_);
    items_.push_back({std::move(task), nullptr});
}

void HandOverQueue::pushAndWait(Task task, const std::function<void()>& wake) {
    bool done = false;
    {
        std::lock_guard lock(mutex_);
        items_.push_back({std::move(task), &done});
    }
    wake();
    std::unique_lock lock(mutex_);
    doneCv_.wait(lock, [&] { return done; });
}

bool HandOverQueue::runQueued(const Runner& run) {
    std::size_t budget = size();
    bool ran = false;
    for (; budget > 0; --budget) {
        Item item;
        {
            std::lock_guard lock(mutex_);
            if (items_.empty()) break;  // a nested call ran the rest
            item = std::move(items_.front());
            items_.pop_front();
        }
        ran = true;
        run(item.task);
        if (item.done) {
            std::lock_guard lock(mutex_);
            *item.done = true;
            doneCv_.notify_all();
        }
    }
    return ran;
}

std::size_t HandOverQueue::size() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

void HandOverQueue::release() {
    {
        std::lock_guard lock(mutex_);
        for (auto& item : items_)
            if (item.done) *item.done = true;
        items_.clear();
    }
    doneCv_.notify_all();
}

}  // namespace tc::platform
