#pragma once

#include <QObject>
#include <QString>

#include <filesystem>
#include <string>
#include <vector>

namespace tarnveil::test {

// Makes a file or folder unwritable for the life of the object. Permission
// bits stop nobody when the tests run as root (as in CI), so there the
// file system's immutable attribute is set instead (what `chattr +i` does);
// for other users the write bits are taken away. applied() is false where
// neither works (a file system without the attribute), and the test then skips.
class Unwritable {
public:
    explicit Unwritable(std::filesystem::path path);
    ~Unwritable();
    Unwritable(const Unwritable&) = delete;
    Unwritable& operator=(const Unwritable&) = delete;

    bool applied() const { return applied_; }
    // Makes the path writable again before the object ends.
    void release();

private:
    std::filesystem::path path_;
    bool applied_ = false;
    bool immutable_ = false;
    std::filesystem::perms saved_{};
};

// Closes the first message box that opens (the start-up's fatal failure box
// runs its own event loop) and keeps its text. Stops looking when it ends.
class MessageBoxCatcher {
public:
    MessageBoxCatcher();
    QString text;

private:
    void poll();
    QObject context_; // owns the pending polls
};

// A CurFile record as the logger writes it: n, then n bytes of name.
std::vector<uint8_t> curFileRecord(const std::string& name);

} // namespace tarnveil::test
