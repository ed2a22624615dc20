#include "catalog/log_catalog.h"

#include "catalog/catalog_database.h"
#include "platform/drive_call.h"

#include <QSqlDriver>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

#include <string_view>
#include <unordered_set>
#include <utility>

// What the catalog reads from its database at the first look, and what it
// stores there of each look after.

namespace tarnveil {

namespace {

QByteArray bytes(const std::string& text)
{
    return QByteArray::fromStdString(text);
}

// The connection under Qt's SQLite driver, which makes a QVariant of every
// value it reads: a hundred thousand logs are read from SQLite directly.
sqlite3* nativeHandle(const QSqlDatabase& database)
{
    const QVariant handle = database.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

class Rows {
public:
    Rows(sqlite3* database, const char* sql)
    {
        if (database == nullptr || sqlite3_prepare_v2(database, sql, -1, &statement_, nullptr) != SQLITE_OK)
            statement_ = nullptr;
    }
    ~Rows() { sqlite3_finalize(statement_); }
    Rows(const Rows&) = delete;
    Rows& operator=(const Rows&) = delete;

    bool next() { return statement_ != nullptr && sqlite3_step(statement_) == SQLITE_ROW; }
    std::string text(int column) const
    {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(statement_, column));
        return data != nullptr ? std::string(data, static_cast<size_t>(sqlite3_column_bytes(statement_, column)))
                               : std::string();
    }
    int64_t number(int column) const { return sqlite3_column_int64(statement_, column); }
    bool null(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }

private:
    sqlite3_stmt* statement_ = nullptr;
};

} // namespace

void LogCatalog::noteLogsThatCameAndWent(const std::string& key, const std::vector<LogFile>& before,
                                         const std::vector<LogFile>& now)
{
    std::unordered_set<std::string_view> had;
    had.reserve(before.size());
    for (const LogFile& log : before)
        had.insert(log.path);
    std::unordered_set<std::string_view> kept;
    kept.reserve(now.size());
    for (const LogFile& log : now) {
        kept.insert(log.path);
        if (!had.contains(log.path)) {
            unstored_.goneLogs.erase(log.path);
            unstored_.newLogs.insert_or_assign(log.path, std::pair{key, log});
        }
    }
    for (const LogFile& log : before) {
        if (!kept.contains(log.path)) {
            facts_.erase(log.path);
            unstored_.newLogs.erase(log.path);
            unstored_.goneLogs.insert(log.path);
        }
    }
}

void LogCatalog::load()
{
    const CatalogUse use;
    if (!use)
        return;
    CatalogDatabase database(catalogFile(logFolder_));
    sqlite3* handle = nativeHandle(database.database());
    Rows folders(handle, "SELECT path, modified_ns FROM folders");
    while (folders.next())
        folders_[folders.text(0)].modifiedNs = folders.number(1);
    Rows logs(handle, "SELECT folder, path, label, sort_key, size, modified_ns, start_ms, frames, sample_rate, "
                      "channels, format FROM logs");
    auto found = folders_.end();
    while (logs.next()) {
        // Rows of one folder mostly come together.
        if (found == folders_.end() || found->first != logs.text(0))
            found = folders_.find(logs.text(0));
        if (found == folders_.end())
            continue;
        LogFile log{logs.text(1), logs.text(2), logs.text(3)};
        if (!logs.null(7)) {
            facts_[log.path] = LogFacts{logs.number(4),
                                        logs.number(5),
                                        logs.number(6),
                                        logs.number(7),
                                        static_cast<int>(logs.number(8)),
                                        static_cast<int>(logs.number(9)),
                                        static_cast<int>(logs.number(10))};
        }
        found->second.logs.push_back(std::move(log));
    }
}

void LogCatalog::storeLocked()
{
    if (unstored_.empty())
        return;
    const CatalogUse use;
    if (!use)
        return;
    CatalogDatabase database(catalogFile(logFolder_));
    save(database);
}

void LogCatalog::storeFacts(const std::string& path, const LogFacts& facts)
{
    const std::lock_guard lock(mutex_);
    facts_[path] = facts;
    const CatalogUse use;
    if (!use)
        return;
    CatalogDatabase database(catalogFile(logFolder_));
    QSqlQuery query(database.database());
    query.prepare(QStringLiteral("UPDATE logs SET size=?, modified_ns=?, start_ms=?, frames=?, sample_rate=?, "
                                 "channels=?, format=? WHERE path=?"));
    for (const QVariant& value : {QVariant::fromValue(facts.size), QVariant::fromValue(facts.modifiedNs),
                                  QVariant::fromValue(facts.startMs), QVariant::fromValue(facts.frames),
                                  QVariant(facts.sampleRate), QVariant(facts.channels), QVariant(facts.format),
                                  QVariant(bytes(path))})
        query.addBindValue(value);
    query.exec();
}

// What changed since the last look, in one transaction. The catalog is derived
// data: a write that fails (another console holds the lock) is simply lost.
void LogCatalog::save(CatalogDatabase& database)
{
    QSqlDatabase& db = database.database();
    if (!db.transaction())
        return;
    QSqlQuery dropLogs(db);
    dropLogs.prepare(QStringLiteral("DELETE FROM logs WHERE folder=?"));
    QSqlQuery dropLog(db);
    dropLog.prepare(QStringLiteral("DELETE FROM logs WHERE path=?"));
    QSqlQuery dropFolder(db);
    dropFolder.prepare(QStringLiteral("DELETE FROM folders WHERE path=?"));
    QSqlQuery putFolder(db);
    putFolder.prepare(QStringLiteral("INSERT OR REPLACE INTO folders(path, modified_ns) VALUES(?, ?)"));
    QSqlQuery putLog(db);
    putLog.prepare(QStringLiteral("INSERT OR REPLACE INTO logs(path, folder, label, sort_key, size, modified_ns, "
                                  "start_ms, frames, sample_rate, channels, format) "
                                  "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    const auto storeFolderTime = [&](const std::string& key, const Folder& folder) {
        putFolder.addBindValue(bytes(key));
        // A racy folder is stored as unread: the next start reads it again.
        putFolder.addBindValue(QVariant::fromValue(folder.racy ? int64_t{-1} : folder.modifiedNs));
        putFolder.exec();
    };
    const auto storeLog = [&](const std::string& key, const LogFile& log) {
        const auto facts = facts_.find(log.path);
        const bool known = facts != facts_.end();
        putLog.addBindValue(bytes(log.path));
        putLog.addBindValue(bytes(key));
        putLog.addBindValue(bytes(log.label));
        putLog.addBindValue(bytes(log.order));
        const QVariant none(QMetaType::fromType<qlonglong>());
        putLog.addBindValue(known ? QVariant::fromValue(facts->second.size) : none);
        putLog.addBindValue(known ? QVariant::fromValue(facts->second.modifiedNs) : none);
        putLog.addBindValue(known ? QVariant::fromValue(facts->second.startMs) : none);
        putLog.addBindValue(known ? QVariant::fromValue(facts->second.frames) : none);
        putLog.addBindValue(known ? QVariant(facts->second.sampleRate) : none);
        putLog.addBindValue(known ? QVariant(facts->second.channels) : none);
        putLog.addBindValue(known ? QVariant(facts->second.format) : none);
        putLog.exec();
    };

    // First, so that a log gone and then found again with its whole folder stays.
    for (const std::string& path : unstored_.goneLogs) {
        dropLog.addBindValue(bytes(path));
        dropLog.exec();
    }
    for (const std::string& key : unstored_.wholeFolders) {
        dropLogs.addBindValue(bytes(key));
        dropLogs.exec();
        const auto found = folders_.find(key);
        if (found == folders_.end()) {
            dropFolder.addBindValue(bytes(key));
            dropFolder.exec();
            continue;
        }
        storeFolderTime(key, found->second);
        for (size_t done = 0; const LogFile& log : found->second.logs) {
            if (++done % 1000 == 0)
                ownWorkGoesOn();
            storeLog(key, log);
        }
    }
    // A folder stored whole above already holds its logs as they are now.
    const auto storedWhole = [&](const std::string& key) { return unstored_.wholeFolders.contains(key); };
    for (const std::string& key : unstored_.folderTimes) {
        const auto found = folders_.find(key);
        if (found != folders_.end() && !storedWhole(key))
            storeFolderTime(key, found->second);
    }
    for (const auto& [path, placed] : unstored_.newLogs) {
        if (!storedWhole(placed.first))
            storeLog(placed.first, placed.second);
    }
    if (db.commit())
        unstored_ = {};
    else
        db.rollback();
}

} // namespace tarnveil
