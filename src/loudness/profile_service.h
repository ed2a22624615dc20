#pragma once

#include "loudness/loudness_profile.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

class QTimer;

namespace tarnveil {

// Measures logs on a thread of its own at the lowest priority, so
// that playback and the GUI always come first, and hands the profiles to the
// GUI thread. Finished logs are taken from the catalog when it holds their
// present state, else measured once and stored there; the live log is read on
// as the logger records it.
//
// A read on the logger's drive that stays unanswered past the drive deadline
// fails that log; the stuck thread is left to finish on its own and a fresh
// one takes the remaining requests. Destroying the service cancels the work
// and waits for nothing.
class ProfileService : public QObject {
    Q_OBJECT
public:
    // `place` names the log folder as the operator knows it ("L:\logger\logs").
    ProfileService(std::filesystem::path logFolder, std::string place, QObject* parent = nullptr);
    ~ProfileService() override;

    // GUI thread. Asks for a log's profile, `urgent` before every other request
    // (the log that plays). A live log is read on as it grows, until it is asked
    // for again as a finished log or another log is live.
    void request(const QByteArray& name, bool live, bool urgent);

    // GUI thread. The latest profile of a log, or nullptr while none has come.
    std::shared_ptr<const LoudnessProfile> profile(const QByteArray& name) const;

signals:
    // The profile of `name` came, or grew.
    void profiled(const QByteArray& name);
    // `message` is the failure's number and description.
    void failed(const QByteArray& name, const QString& message);

private:
    struct Shared;

    // The measuring thread.
    static void run(const std::shared_ptr<Shared>& shared);
    void startWorker();
    void deliver();
    void watchDeadline();

    std::filesystem::path logFolder_;
    std::string place_;
    std::shared_ptr<Shared> shared_;
    QTimer* deadlineTimer_;
    std::map<QByteArray, std::shared_ptr<const LoudnessProfile>> profiles_;
};

} // namespace tarnveil
