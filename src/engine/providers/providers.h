// The providers behind the data-access facade: the Access engine's
// (Microsoft.Jet.OLEDB.4.0, Microsoft.ACE.OLEDB.12.0, which also reach
// dBase folders through "Extended Properties=dBase III;") and Visual
// FoxPro's (vfpoledb.1).  Both run their command texts through the SQL
// layer over the storage engines.
#pragma once

#include "ado/ado.h"
#include "sql/executor.h"

#include <memory>
#include <string>

namespace qm::providers {

// Adds the providers to ado::ProviderRegistry::instance(); calling it again
// does nothing.
void registerBuiltInProviders();

// The session both providers hand out.
class SqlSession : public ado::Session {
public:
    enum class Kind { Access, FoxPro, DBaseFolder };

    SqlSession(std::unique_ptr<storage::Database> db, Kind kind, bool caseInsensitiveText);
    ~SqlSession() override;

    void execute(std::string_view commandText) override;
    std::unique_ptr<ado::Rowset> open(std::string_view source, bool forUpdate) override;
    std::vector<std::pair<std::string, std::string>> schemaTables() override;
    void appendTable(const std::string& name, const std::vector<ado::CatalogColumn>& columns) override;
    storage::Database& database() override { return *db_; }

    // execute() with a report per statement; throws like execute().
    std::size_t executeScript(std::string_view commandText, const sql::Executor::Observer& observer);

    Kind kind() const { return kind_; }
    sql::Executor& executor() { return *executor_; }

private:
    std::unique_ptr<storage::Database> db_;
    Kind kind_;
    std::unique_ptr<sql::Executor> executor_;
};

// The connection string the program builds for a database path: ACE for
// .accdb, Jet for .mdb, vfpoledb for a .dbc ("machine") or a folder of
// free tables or a .dbf ("general").
std::string connectionStringFor(const std::string& path, const std::string& password = {});

} // namespace qm::providers
