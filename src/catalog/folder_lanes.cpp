#include "catalog/folder_lanes.h"

#include "platform/drive_call.h"

#include <utility>

namespace tarnveil {

FolderLanes::FolderLanes(int rootFd, std::filesystem::path logFolder, int lanes)
    : rootFd_(rootFd), logFolder_(std::move(logFolder))
{
    DriveCallWatch* watch = currentDriveCallWatch();
    for (int lane = 0; lane < lanes; ++lane)
        threads_.emplace_back([this, watch] { work(watch); });
}

FolderLanes::~FolderLanes()
{
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
        queued_.clear();
    }
    changed_.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
}

void FolderLanes::post(FolderLook look)
{
    {
        const std::lock_guard lock(mutex_);
        queued_.push_back(std::move(look));
    }
    changed_.notify_all();
}

int FolderLanes::pending() const
{
    const std::lock_guard lock(mutex_);
    return static_cast<int>(queued_.size() + done_.size()) + underWay_;
}

std::optional<FolderLook> FolderLanes::next()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return cancelled_ || !done_.empty() || (queued_.empty() && underWay_ == 0); });
    if (cancelled_)
        throw DriveCallCancelled{};
    if (done_.empty())
        return std::nullopt;
    FolderLook look = std::move(done_.front());
    done_.pop_front();
    return look;
}

void FolderLanes::work(DriveCallWatch* watch)
{
    std::optional<DriveCallScope> watched;
    if (watch != nullptr)
        watched.emplace(*watch);
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return closing_ || !queued_.empty(); });
        if (closing_ || cancelled_)
            return;
        FolderLook look = std::move(queued_.front());
        queued_.pop_front();
        ++underWay_;
        lock.unlock();
        bool cancelled = false;
        try {
            UniqueFd held = look.from ? lookAtFolder(look.from->get(), look.path, logFolder_, look)
                                      : lookAtFolder(rootFd_, look.key.empty() ? std::string(".") : look.key,
                                                     logFolder_, look);
            look.from.reset();
            if (held && look.contents && !look.contents->datedFolders.empty())
                look.held = std::make_shared<const UniqueFd>(std::move(held));
        } catch (const DriveCallCancelled&) {
            cancelled = true;
        }
        lock.lock();
        --underWay_;
        if (cancelled) {
            cancelled_ = true;
            queued_.clear();
        } else {
            done_.push_back(std::move(look));
        }
        changed_.notify_all();
    }
}

} // namespace tarnveil
