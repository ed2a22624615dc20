// The console against a logger share that changes under it: logs deleted, cut
// short or replaced while they play, the drive link removed, and CurFile
// rewritten by another writer while Play is pressed again and again.

#include "console_fixture.h"
#include "fault_support.h"

#include "components/track_bar.h"
#include "components/wave_player.h"
#include "console/console_colours.h"
#include "support/wav_fixtures.h"

#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTest>

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>

namespace tarnveil::test {
namespace {

namespace fs = std::filesystem;

const QString Damaged = QStringLiteral("Wave file does not exist or has been damaged");

class LogFaultTest : public ConsoleTest {
protected:
    void expectIdle()
    {
        EXPECT_EQ(module.PlayerOpen, 0);
        EXPECT_EQ(window->Paused, 0);
        EXPECT_EQ(buttonColour(window->cmdPlay), colours::PlayIdle);
        EXPECT_EQ(buttonColour(window->cmdPause), colours::PauseIdle);
        EXPECT_EQ(window->lblTime->text(), "    ");
    }

    // Play of the selected log, then Stop: the console works.
    void expectPlays(const QString& name, int32_t lengthMs)
    {
        closeErrorWindow();
        selectLog(name);
        ASSERT_TRUE(playSelected()) << name.toStdString() << " did not play";
        EXPECT_TRUE(errorMessage().isNull()) << errorMessage().toStdString();
        EXPECT_EQ(window->WavePlayer->FileName().filename(), name.toStdString());
        EXPECT_EQ(window->TrackBar->Max(), lengthMs);
        QTest::mouseClick(window->cmdStop, Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return module.PlayerOpen == 0; }));
    }

    void expectRefused(const QString& name)
    {
        closeErrorWindow();
        selectLog(name);
        clickPlay();
        EXPECT_EQ(errorMessage(), Damaged);
        ASSERT_TRUE(waitForTicks(1));
        EXPECT_EQ(module.PlayerOpen, 0);
        closeErrorWindow();
    }
};

struct LogFault {
    const char* name;
    std::function<void(const fs::path& log, const fs::path& replacement)> apply;
    bool ends;           // the playback must end by itself
    int32_t afterwardMs; // length when played again; -1: refused
};

// Whatever happens to the file that plays, the console either ends the
// playback cleanly (back to idle) or plays on what it has; it never crashes,
// and afterwards other logs, and the same name again, play normally.
TEST_F(LogFaultTest, ALogChangedWhilePlayingEndsCleanlyOrPlaysOn)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    const LogFault faults[] = {
        {"deleted", [](const fs::path& log, const fs::path&) { fs::remove(log); }, true, -1},
        {"cut to one second", [](const fs::path& log, const fs::path&) { fs::resize_file(log, 44 + 8000); },
         true, 1000},
        {"cut to nothing", [](const fs::path& log, const fs::path&) { fs::resize_file(log, 0); }, true, -1},
        {"replaced by another log", [](const fs::path& log, const fs::path& other) { fs::rename(other, log); },
         true, 3000},
        {"overwritten in place",
         [](const fs::path& log, const fs::path&) {
             // Same length, no longer a wave file: what is decoded plays on as noise.
             const auto size = static_cast<size_t>(fs::file_size(log));
             const int fd = ::open(log.c_str(), O_WRONLY);
             ASSERT_GE(fd, 0);
             const std::vector<uint8_t> junk(size, 0x5A);
             ASSERT_EQ(::pwrite(fd, junk.data(), junk.size(), 0), static_cast<ssize_t>(size));
             ::close(fd);
         },
         false, -1},
    };
    writeLog("victim.wav", 20000, 8000);
    writeLog("good.wav", 2000, 8000);
    mnuMenu& w = openWindow();
    for (const LogFault& fault : faults) {
        SCOPED_TRACE(fault.name);
        const fs::path victim = writeLog("victim.wav", 20000, 8000);
        const fs::path replacement = loggerDir / "replacement.wav";
        writePositionWav(replacement, 8000, 3 * 8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_U8);
        closeErrorWindow();
        // Written again after a case that removed it: listed once the folder's notice comes.
        ASSERT_TRUE(waitFor([&] { return listedLogs().contains("victim.wav"); }));
        selectLog("victim.wav");
        ASSERT_TRUE(playSelected());
        ASSERT_TRUE(waitFor([&] { return w.WavePlayer->Position() > 200; }));

        fault.apply(victim, replacement);
        if (fault.ends) {
            ASSERT_TRUE(waitFor([&] { return module.PlayerOpen == 0; }, 8000)) << "played on";
            ASSERT_TRUE(waitForTicks(2));
            expectIdle();
            // The thumb rests where the data ran out, short of the length the header claimed.
            EXPECT_EQ(w.TrackBar->Position(), w.WavePlayer->Position());
            EXPECT_LT(w.TrackBar->Position(), 20000);
        } else {
            ASSERT_TRUE(waitForTicks(6));
            QTest::mouseClick(w.cmdStop, Qt::LeftButton);
            ASSERT_TRUE(waitFor([&] { return module.PlayerOpen == 0; }));
            expectIdle();
        }

        expectPlays("good.wav", 2000);
        if (fault.afterwardMs >= 0)
            expectPlays("victim.wav", fault.afterwardMs);
        else if (!fs::exists(victim))
            // Kept in the list only while it played.
            EXPECT_TRUE(waitFor([&] { return !listedLogs().contains("victim.wav"); }));
        else
            expectRefused("victim.wav");
    }
}

// A damaged header can claim any sample rate. One no sound card plays is
// refused like any damaged log, before the player sizes its buffers by it
// (half a billion hertz asked for gigabytes); the fastest real rate still opens.
TEST_F(LogFaultTest, ALogClaimingAnImpossibleSampleRateIsRefused)
{
    writeBytes(logs / "huge-rate.wav", pcmWavImage(520101696, 2, 16, std::vector<uint8_t>(4000, 1)));
    writeBytes(logs / "fastest.wav", pcmWavImage(768000, 2, 16, std::vector<uint8_t>(768000 / 10 * 4, 0)));
    mnuMenu& w = openWindow();
    expectRefused("huge-rate.wav");
    w.WavePlayer->setFileName(logs / "fastest.wav");
    EXPECT_EQ(w.WavePlayer->Wave().Length(), 100);
}

// Without the drive link the logs cannot be reached: Play reports the fixed
// message (stopping what played), and once the link is back Play works again.
TEST_F(LogFaultTest, RemovedDriveLinkIsReportedAndPlayWorksOnceItIsBack)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    writeLog("a.wav", 10000, 8000);
    mnuMenu& w = openWindow();
    selectLog("a.wav");
    ASSERT_TRUE(playSelected());
    ASSERT_TRUE(waitFor([&] { return w.WavePlayer->Position() > 100; }));

    const fs::path link = prefixDir / "dosdevices" / "l:";
    fs::remove(link);
    clickPlay();
    EXPECT_EQ(errorMessage(), Damaged);
    ASSERT_TRUE(waitFor([&] { return module.PlayerOpen == 0; }));
    // The console keeps ticking with the drive gone.
    ASSERT_TRUE(waitForTicks(4));
    expectIdle();
    expectRefused("a.wav");

    // A link that leads nowhere, as an unmounted share leaves it.
    fs::create_directory_symlink(loggerDir / "not-mounted", link);
    expectRefused("a.wav");
    fs::remove(link);

    fs::create_directory_symlink(loggerDir.path(), link);
    expectPlays("a.wav", 10000);
}

// Another writer rewrites CurFile hundreds of times a second (whole records,
// empty ones, damaged ones, in place and by renaming, and removes it now and
// then) while Play is pressed over and over on three logs. Nothing crashes;
// a log that is not live is never written; the live log only ever gets its
// two size fields.
TEST_F(LogFaultTest, CurFileRewrittenWhilePlayIsPressedRepeatedly)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    const fs::path live = writePositionLog("live.wav", 2 * 8000, 8000);
    std::vector<uint8_t> liveBytes = readBytes(live);
    ASSERT_EQ(std::string(liveBytes.begin() + 36, liveBytes.begin() + 40), "data");
    std::fill_n(liveBytes.begin() + 4, 4, 0); // as the logger leaves them while recording
    std::fill_n(liveBytes.begin() + 40, 4, 0);
    writeBytes(live, liveBytes);
    const fs::path a = writeLog("a.wav", 2000, 8000);
    const fs::path b = writeLog("b.wav", 3000, 8000);
    const std::vector<uint8_t> aBytes = readBytes(a);
    const std::vector<uint8_t> bBytes = readBytes(b);

    const fs::path loggerFolder = loggerDir / "logger";
    const std::vector<std::vector<uint8_t>> records = {
        curFileRecord(":\\logger\\logs\\live.wav"), curFileRecord(""),
        curFileRecord(":\\logger\\logs\\live.wav"), curFileRecord(":\\logger\\logs\\elsewhere.wav"),
        curFileRecord(":\\logger\\logs\\live.wav"), {200, 0, 'x'} /* n beyond 126 */,
        curFileRecord(":\\logger\\logs\\LIVE.wav"), curFileRecord("L:\\logger\\logs\\live.wav"),
    };
    std::atomic<bool> stop{false};
    std::atomic<int> rewrites{0};
    std::thread writer([&] {
        for (size_t i = 0; !stop.load(); ++i) {
            const std::vector<uint8_t>& record = records[i % records.size()];
            const fs::path target = loggerFolder / "CurFile";
            if (i % 13 == 12) {
                ::unlink(target.c_str());
            } else if (i % 2 == 0) {
                // In place: a reader can see it empty or half written.
                const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd >= 0) {
                    [[maybe_unused]] const ssize_t n = ::write(fd, record.data(), record.size());
                    ::close(fd);
                }
            } else {
                const fs::path temporary = loggerFolder / ".CurFile.new";
                writeBytes(temporary, record);
                ::rename(temporary.c_str(), target.c_str());
            }
            rewrites.fetch_add(1);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });

    mnuMenu& w = openWindow();
    const QString names[] = {"live.wav", "a.wav", "b.wav"};
    int started = 0;
    int refused = 0;
    for (int i = 0; i < 45; ++i) {
        selectLog(names[i % 3]);
        clickPlay();
        if (!errorMessage().isNull()) {
            EXPECT_EQ(errorMessage(), Damaged);
            ++refused;
            closeErrorWindow();
        } else if (waitFor([&] { return module.PlayerOpen == -1; }, 3000)) {
            ++started;
        }
        QTest::qWait(i % 4 * 10);
    }
    stop.store(true);
    writer.join();
    QTest::mouseClick(w.cmdStop, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return module.PlayerOpen == 0; }));

    RecordProperty("curfile_rewrites", rewrites.load());
    RecordProperty("plays_started", started);
    RecordProperty("plays_refused", refused);
    EXPECT_GT(rewrites.load(), 45);
    EXPECT_GT(started, 0);
    EXPECT_EQ(started + refused, 45);
    EXPECT_EQ(readBytes(a), aBytes);
    EXPECT_EQ(readBytes(b), bBytes);
    const std::vector<uint8_t> after = readBytes(live);
    ASSERT_EQ(after.size(), liveBytes.size());
    for (size_t i = 0; i < after.size(); ++i) {
        if ((i < 4 || i >= 8) && (i < 40 || i >= 44)) {
            ASSERT_EQ(after[i], liveBytes[i]) << "byte " << i << " of the live log changed";
        }
    }
    // The two fields are either as the logger left them or right for the length.
    const auto le32 = [&](size_t at) {
        return uint32_t{after[at]} | uint32_t{after[at + 1]} << 8 | uint32_t{after[at + 2]} << 16
            | uint32_t{after[at + 3]} << 24;
    };
    EXPECT_TRUE(le32(4) == 0 || le32(4) == after.size() - 8) << le32(4);
    EXPECT_TRUE(le32(40) == 0 || le32(40) == after.size() - 44) << le32(40);
}

} // namespace
} // namespace tarnveil::test
