#include "fault_support.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <system_error>

namespace tarnveil::test {

namespace {

// Sets or clears the immutable attribute; false when the file system or the
// process's privileges do not allow it.
bool setImmutable(const std::filesystem::path& path, bool on)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

} // namespace

Unwritable::Unwritable(std::filesystem::path path) : path_(std::move(path))
{
    if (::geteuid() == 0) {
        immutable_ = setImmutable(path_, true);
        applied_ = immutable_;
        return;
    }
    std::error_code error;
    saved_ = std::filesystem::status(path_, error).permissions();
    if (error)
        return;
    std::filesystem::permissions(path_,
                                 std::filesystem::perms::owner_write | std::filesystem::perms::group_write
                                     | std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove, error);
    applied_ = !error;
}

Unwritable::~Unwritable()
{
    release();
}

void Unwritable::release()
{
    if (!applied_)
        return;
    applied_ = false;
    if (immutable_) {
        setImmutable(path_, false);
        return;
    }
    std::error_code ignored;
    std::filesystem::permissions(path_, saved_, ignored);
}

MessageBoxCatcher::MessageBoxCatcher()
{
    QTimer::singleShot(0, &context_, [this] { poll(); });
}

void MessageBoxCatcher::poll()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) {
            text = box->text();
            box->accept();
            return;
        }
    }
    QTimer::singleShot(10, &context_, [this] { poll(); });
}

std::vector<uint8_t> curFileRecord(const std::string& name)
{
    std::vector<uint8_t> record(2 + name.size());
    record[0] = static_cast<uint8_t>(name.size());
    record[1] = static_cast<uint8_t>(name.size() >> 8);
    std::copy(name.begin(), name.end(), record.begin() + 2);
    return record;
}

} // namespace tarnveil::test
