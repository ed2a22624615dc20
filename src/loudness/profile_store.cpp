#include "loudness/profile_store.h"

#include "catalog/catalog_database.h"
#include "platform/failure.h"
#include "platform/modified_time.h"

#include <QSqlQuery>
#include <QVariant>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>

namespace tarnveil {

namespace {

// Values are kept as 16-bit hundredths of a decibel: a profile of an hour takes
// 216 kB instead of 432 kB, and a hundredth is finer than any meter shows.
constexpr int16_t SilentCode = INT16_MIN;

QByteArray encode(const std::vector<float>& values)
{
    QByteArray bytes(static_cast<qsizetype>(values.size() * 2), Qt::Uninitialized);
    for (size_t i = 0; i < values.size(); ++i) {
        const float value = values[i];
        const int16_t code =
            std::isfinite(value)
                ? static_cast<int16_t>(std::lround(std::clamp(value * 100.0f, INT16_MIN + 1.0f, float(INT16_MAX))))
                : SilentCode;
        bytes[static_cast<qsizetype>(2 * i)] = static_cast<char>(code & 0xff);
        bytes[static_cast<qsizetype>(2 * i + 1)] = static_cast<char>((code >> 8) & 0xff);
    }
    return bytes;
}

std::vector<float> decode(const QByteArray& bytes)
{
    std::vector<float> values(static_cast<size_t>(bytes.size() / 2));
    for (size_t i = 0; i < values.size(); ++i) {
        const auto low = static_cast<uint8_t>(bytes[static_cast<qsizetype>(2 * i)]);
        const auto high = static_cast<uint8_t>(bytes[static_cast<qsizetype>(2 * i + 1)]);
        const auto code = static_cast<int16_t>(static_cast<uint16_t>(low | (high << 8)));
        values[i] = code == SilentCode ? LoudnessProfile::Silent : static_cast<float>(code) / 100.0f;
    }
    return values;
}

QVariant finiteOrNull(double value)
{
    return std::isfinite(value) ? QVariant(value) : QVariant();
}

double valueOrSilent(const QVariant& value)
{
    return value.isNull() ? LoudnessProfile::Silent : value.toDouble();
}

// A profile holds for the log as it was measured: its name, size and time.
void bindKey(QSqlQuery& query, const LogKey& key)
{
    query.addBindValue(QString::fromUtf8(key.name));
    query.addBindValue(qint64{key.size});
    query.addBindValue(qint64{key.modifiedNs});
}

} // namespace

LogKey readLogKey(const std::filesystem::path& logFolder, const QByteArray& name)
{
    const std::filesystem::path file = logFolder / name.toStdString();
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0)
        throw fileFailure(errno, file, file.string());
    return LogKey{name, static_cast<int64_t>(status.st_size), modifiedNs(status)};
}

ProfileStore::ProfileStore(const std::filesystem::path& logFolder)
    : catalog_(std::make_unique<CatalogDatabase>(catalogFile(logFolder)))
{
}

ProfileStore::~ProfileStore() = default;

std::optional<LoudnessProfile> ProfileStore::load(const LogKey& key)
{
    QSqlQuery query(catalog_->database());
    query.prepare(QStringLiteral("SELECT sample_rate, frames, integrated, range, max_peak, momentary, short_term, peak "
                                 "FROM profiles WHERE log = ? AND size = ? AND modified = ?"));
    bindKey(query, key);
    if (!query.exec() || !query.next())
        return std::nullopt;
    LoudnessProfile profile;
    profile.sampleRate = query.value(0).toInt();
    profile.frames = query.value(1).toLongLong();
    profile.integrated = valueOrSilent(query.value(2));
    profile.range = query.value(3).toDouble();
    profile.maxPeak = valueOrSilent(query.value(4));
    profile.momentary = decode(query.value(5).toByteArray());
    profile.shortTerm = decode(query.value(6).toByteArray());
    profile.peak = decode(query.value(7).toByteArray());
    // A row cut short in some way is derived data gone bad: measure again.
    if (profile.sampleRate <= 0 || profile.momentary.size() != profile.peak.size()
        || profile.shortTerm.size() != profile.peak.size())
        return std::nullopt;
    return profile;
}

void ProfileStore::save(const LogKey& key, const LoudnessProfile& profile)
{
    QSqlQuery query(catalog_->database());
    query.prepare(QStringLiteral("INSERT OR REPLACE INTO profiles (log, size, modified, sample_rate, frames, integrated, "
                                 "range, max_peak, momentary, short_term, peak) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    bindKey(query, key);
    query.addBindValue(profile.sampleRate);
    query.addBindValue(qint64{profile.frames});
    query.addBindValue(finiteOrNull(profile.integrated));
    query.addBindValue(profile.range);
    query.addBindValue(finiteOrNull(profile.maxPeak));
    query.addBindValue(encode(profile.momentary));
    query.addBindValue(encode(profile.shortTerm));
    query.addBindValue(encode(profile.peak));
    // A catalog that fails here is only a cache: the profile is measured again next time.
    query.exec();
}

} // namespace tarnveil
