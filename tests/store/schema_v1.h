// A registry as the first version of the program left it: its schema, word for word, and a few
// records (a model 251 site with two records, a model 250 and a model 252 device of no number,
// one record waiting for a server), so that the migration is tested from what users have.
#pragma once

#include <string>

namespace lovar::testing {

// prefix: "" for SQLite, "lovar." for PostgreSQL; blob: how a byte string is written in SQL.
inline std::string SchemaV1(const std::string& prefix, bool postgres) {
  const std::string id = postgres ? "bigint GENERATED ALWAYS AS IDENTITY" : "INTEGER";
  const std::string p = prefix;
  std::string sql = postgres ? "CREATE SCHEMA lovar;\n" : "";
  sql += "CREATE TABLE " + p + (postgres ? "schema_info" : "lovar_schema") +
         " (id integer PRIMARY KEY CHECK (id = 1), version integer NOT NULL, program text NOT "
         "NULL);\n"
         "CREATE TABLE " +
         p + "sites (id " + id +
         " PRIMARY KEY, model integer NOT NULL, object text NOT NULL, UNIQUE (model, object));\n"
         "CREATE TABLE " +
         p + "images (id " + id +
         " PRIMARY KEY, hash text NOT NULL UNIQUE, length integer NOT NULL, codec integer NOT "
         "NULL, data " +
         (postgres ? "bytea" : "BLOB") +
         " NOT NULL);\n"
         "CREATE TABLE " +
         p + "records (id " + id + " PRIMARY KEY, record_id text NOT NULL UNIQUE, site " +
         (postgres ? "bigint" : "INTEGER") + " NOT NULL REFERENCES " + p +
         "sites (id), at_us bigint NOT NULL, station text NOT NULL, operator text NOT NULL, port "
         "text NOT NULL, device text NOT NULL, operation text NOT NULL, outcome text NOT NULL, "
         "message text NOT NULL, image " +
         (postgres ? "bigint" : "INTEGER") + " REFERENCES " + p +
         "images (id), program text NOT NULL, waiting_for text);\n"
         "CREATE INDEX sites_by_object ON " +
         p + "sites (object);\nCREATE INDEX records_by_site ON " + p +
         "records (site, at_us);\nCREATE INDEX records_waiting ON " + p +
         "records (waiting_for) WHERE waiting_for IS NOT NULL;\nCREATE TABLE " + p +
         "settings (key text PRIMARY KEY, value text NOT NULL);\n"
         "INSERT INTO " +
         p + (postgres ? "schema_info" : "lovar_schema") +
         " (id, version, program) VALUES (1, 1, '1.0');\n";
  // The images' bytes are no concern of the migration: it never reads them.
  const std::string blob = postgres ? "'\\x00'::bytea" : "x'00'";
  sql += "INSERT INTO " + p + "images (hash, length, codec, data) VALUES ('aa', 4096, 0, " + blob +
         "), ('bb', 256, 0, " + blob + ");\n";
  sql += "INSERT INTO " + p +
         "sites (model, object) VALUES (251, '1024'), (250, ''), (252, ''), (251, '77');\n";
  const auto record = [&](const std::string& rid, int site, const std::string& at,
                          const std::string& op, const std::string& image,
                          const std::string& waiting) {
    return "INSERT INTO " + p +
           "records (record_id, site, at_us, station, operator, port, device, operation, outcome, "
           "message, image, program, waiting_for) VALUES ('" +
           rid + "', " + std::to_string(site) + ", " + at + ", 'pc-7', 'ivan', 'COM5', 'Ловар', '" +
           op + "', 'holds', 'м', " + image + ", '1.0', " + waiting + ");\n";
  };
  sql += record("r1", 1, "1000", "read", "1", "NULL");
  sql += record("r2", 1, "2000", "write", "1", "NULL");
  sql += record("r3", 2, "3000", "read", "2", "NULL");
  sql += record("r4", 3, "4000", "read", "NULL", "NULL");
  sql += record("r5", 4, "5000", "read", "1", "'postgresql://h/db'");
  return sql;
}

}  // namespace lovar::testing
