#pragma once

#include <QSqlDatabase>
#include <QString>

#include <filesystem>
#include <string_view>
#include <vector>

namespace tarnveil {

// The catalog's layout. Raise it whenever a table changes shape: a catalog of
// another layout is thrown away and built again from the drive.
inline constexpr int CatalogLayout = 1;

// Every table the catalog keeps, as CREATE TABLE IF NOT EXISTS statements.
const std::vector<std::string_view>& catalogTables();

// Where the catalog of one log folder lives: the user's cache folder
// ($XDG_CACHE_HOME/tarnveil, else ~/.cache/tarnveil), one file per log folder,
// named after the folder's path on this machine. Never on the logger's drive.
std::filesystem::path catalogFile(const std::filesystem::path& logFolder);

// Held while a thread works on a catalog. Qt SQL's own state goes with the
// program's end, and a catalog is stored on lanes that may still run then: the
// end waits a moment for the catalogs in use, and once it has begun no new use
// is granted (false), since the catalog is derived data and can wait for the
// next start.
class CatalogUse {
public:
    CatalogUse();
    ~CatalogUse();
    CatalogUse(const CatalogUse&) = delete;
    CatalogUse& operator=(const CatalogUse&) = delete;
    explicit operator bool() const { return granted_; }

private:
    bool granted_ = false;
};

// One connection to a catalog, for the thread that opened it.
//
// The catalog is derived data, so opening never fails and never troubles the
// operator: a missing, damaged or older catalog is built afresh, and one that
// cannot be opened at all (locked by another console, an unwritable cache
// folder) is replaced by an empty database in memory, so that the console
// runs on without storing.
class CatalogDatabase {
public:
    explicit CatalogDatabase(const std::filesystem::path& file);
    ~CatalogDatabase();
    CatalogDatabase(const CatalogDatabase&) = delete;
    CatalogDatabase& operator=(const CatalogDatabase&) = delete;

    QSqlDatabase& database() { return database_; }
    // False when the catalog lives in memory only.
    bool stored() const { return stored_; }

    // A query found the catalog damaged after it opened: start again empty.
    void rebuild();

private:
    bool openStored();
    void openInMemory();
    bool prepareTables();
    void close();

    std::filesystem::path file_;
    QString connection_;
    QSqlDatabase database_;
    bool stored_ = false;
};

} // namespace tarnveil
