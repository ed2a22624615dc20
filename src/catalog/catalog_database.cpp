#include "catalog/catalog_database.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>

namespace tarnveil {

namespace {

// A store waits at most its busy timeout for another console's lock; the
// end gives the rest of the work ample time beyond that.
constexpr auto EndWaitsForCatalogs = std::chrono::seconds(2);

struct CatalogsInUse {
    std::mutex mutex;
    std::condition_variable noneLeft;
    int count = 0;
    bool programEnding = false;
};

// Never destroyed: a lane may still ask after the statics have gone.
CatalogsInUse& catalogsInUse()
{
    static auto* inUse = new CatalogsInUse;
    return *inUse;
}

void waitForCatalogsInUse()
{
    CatalogsInUse& inUse = catalogsInUse();
    std::unique_lock lock(inUse.mutex);
    inUse.programEnding = true;
    inUse.noneLeft.wait_for(lock, EndWaitsForCatalogs, [&inUse] { return inUse.count == 0; });
}

// A second console on the same archive holds its write lock only for one
// short transaction; longer than this, it counts as locked.
constexpr int BusyTimeoutMs = 250;

QString uniqueConnectionName()
{
    static std::atomic<unsigned> next{0};
    return QStringLiteral("tarnveil-catalog-%1").arg(next.fetch_add(1));
}

std::filesystem::path cacheFolder()
{
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && *xdg == '/')
        return std::filesystem::path(xdg) / "tarnveil";
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return std::filesystem::path(home) / ".cache" / "tarnveil";
    return std::filesystem::path(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation).toStdString())
           / "tarnveil";
}

void removeCatalogFiles(const std::filesystem::path& file)
{
    std::error_code ignored;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        std::filesystem::remove(file.string() + suffix, ignored);
}

bool run(QSqlDatabase& database, const QString& statement)
{
    QSqlQuery query(database);
    return query.exec(statement);
}

int readLayout(QSqlDatabase& database)
{
    QSqlQuery query(database);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return -1;
    return query.value(0).toInt();
}

bool anyTables(QSqlDatabase& database)
{
    QSqlQuery query(database);
    return query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) && query.next()
           && query.value(0).toInt() > 0;
}

} // namespace

const std::vector<std::string_view>& catalogTables()
{
    static const std::vector<std::string_view> tables{
        "CREATE TABLE IF NOT EXISTS profiles (log TEXT PRIMARY KEY, size INTEGER NOT NULL, modified INTEGER NOT NULL, "
        "sample_rate INTEGER NOT NULL, frames INTEGER NOT NULL, integrated REAL, range REAL NOT NULL, max_peak REAL, "
        "momentary BLOB NOT NULL, short_term BLOB NOT NULL, peak BLOB NOT NULL)",
        // Every dated folder below the log folder ("" for the folder itself,
        // else "2026/12/"), with its modification time when last read (-1:
        // known but not yet read).
        "CREATE TABLE IF NOT EXISTS folders(path BLOB PRIMARY KEY, modified_ns INTEGER NOT NULL)",
        // Every log, keyed by its path below the log folder. Its place in time
        // (NULL until the log was opened) holds while its size and time do.
        "CREATE TABLE IF NOT EXISTS logs(path BLOB PRIMARY KEY, folder BLOB NOT NULL, label BLOB NOT NULL, "
        "sort_key BLOB NOT NULL, size INTEGER, modified_ns INTEGER, start_ms INTEGER, frames INTEGER, "
        "sample_rate INTEGER, channels INTEGER, format INTEGER)",
        "CREATE INDEX IF NOT EXISTS logs_by_folder ON logs(folder)",
    };
    return tables;
}

std::filesystem::path catalogFile(const std::filesystem::path& logFolder)
{
    const QByteArray key = QCryptographicHash::hash(QByteArray::fromStdString(logFolder.lexically_normal().string()),
                                                    QCryptographicHash::Sha1)
                               .toHex()
                               .left(16);
    return cacheFolder() / ("catalog-" + key.toStdString() + ".sqlite");
}

CatalogUse::CatalogUse()
{
    // The end is awaited as the application object goes, and again at exit()
    // for a program that ends without it (a lost display). Qt SQL's own
    // state is made first, so that exit() comes to the wait before it tears
    // that state down.
    static std::once_flag registered;
    std::call_once(registered, [] {
        QSqlDatabase::connectionNames();
        qAddPostRoutine(waitForCatalogsInUse);
        std::atexit(waitForCatalogsInUse);
    });
    CatalogsInUse& inUse = catalogsInUse();
    const std::lock_guard lock(inUse.mutex);
    granted_ = !inUse.programEnding;
    if (granted_)
        ++inUse.count;
}

CatalogUse::~CatalogUse()
{
    if (!granted_)
        return;
    CatalogsInUse& inUse = catalogsInUse();
    const std::lock_guard lock(inUse.mutex);
    if (--inUse.count == 0)
        inUse.noneLeft.notify_all();
}

CatalogDatabase::CatalogDatabase(const std::filesystem::path& file) : file_(file)
{
    if (!openStored()) {
        // Damaged or of another layout: once more from nothing, then memory.
        close();
        removeCatalogFiles(file_);
        if (!openStored()) {
            close();
            openInMemory();
        }
    }
}

CatalogDatabase::~CatalogDatabase()
{
    close();
}

void CatalogDatabase::rebuild()
{
    close();
    if (stored_) {
        removeCatalogFiles(file_);
        if (openStored())
            return;
        close();
    }
    openInMemory();
}

bool CatalogDatabase::openStored()
{
    std::error_code error;
    std::filesystem::create_directories(file_.parent_path(), error);
    if (error)
        return false;
    connection_ = uniqueConnectionName();
    database_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    database_.setDatabaseName(QString::fromStdString(file_.string()));
    database_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
    if (!database_.open())
        return false;
    const int layout = readLayout(database_);
    if (layout < 0 || (layout != CatalogLayout && anyTables(database_)))
        return false;
    if (!run(database_, QStringLiteral("PRAGMA journal_mode=WAL"))
        || !run(database_, QStringLiteral("PRAGMA synchronous=NORMAL")) || !prepareTables())
        return false;
    stored_ = true;
    return true;
}

void CatalogDatabase::openInMemory()
{
    connection_ = uniqueConnectionName();
    database_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    database_.setDatabaseName(QStringLiteral(":memory:"));
    database_.open();
    prepareTables();
    stored_ = false;
}

bool CatalogDatabase::prepareTables()
{
    if (!database_.transaction())
        return false;
    for (std::string_view table : catalogTables()) {
        if (!run(database_, QString::fromUtf8(table.data(), static_cast<qsizetype>(table.size())))) {
            database_.rollback();
            return false;
        }
    }
    return run(database_, QStringLiteral("PRAGMA user_version=%1").arg(CatalogLayout)) && database_.commit();
}

void CatalogDatabase::close()
{
    if (connection_.isEmpty())
        return;
    // A loudness worker let go while stuck on a dead share closes its store
    // whenever the share answers, which may be after the program's end has
    // torn down Qt SQL's list of connections: past that end it leaves it.
    const CatalogUse use;
    if (!use)
        return;
    database_.close();
    database_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connection_);
    connection_.clear();
}

} // namespace tarnveil
