#include "store/postgres_roles.h"

#include "model/model_setup.h"
#include "store/code_ranges.h"

namespace lovar {
namespace {

constexpr const char* kRoles =
    R"sql(-- The roles of the registry lovar. Run as the owner of the schema lovar:
--   lovar-cli sites roles --apply --db postgresql://owner@server/base
-- then make each login a member of one role, e.g.:
--   CREATE ROLE "pc-7" LOGIN PASSWORD '…' IN ROLE lovar_station;
--   GRANT lovar_office TO anna;  GRANT lovar_codes TO anna;  GRANT lovar_admin TO boss;
DO $$
DECLARE
  name text;
BEGIN
  FOREACH name IN ARRAY ARRAY['lovar_station', 'lovar_office', 'lovar_codes', 'lovar_admin'] LOOP
    IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = name) THEN
      EXECUTE format('CREATE ROLE %I NOLOGIN', name);
    END IF;
  END LOOP;
END $$;

-- The bytes of each model that hold user codes and key codes (and passwords), from the
-- program's catalog: filled anew by each run of this script.
CREATE TABLE IF NOT EXISTS lovar.code_ranges (
  model integer NOT NULL,
  start integer NOT NULL,
  length integer NOT NULL,
  field text NOT NULL,
  PRIMARY KEY (model, start));
DELETE FROM lovar.code_ranges;
%RANGES%

-- An image's bytes from its stored form (image_pack.h: plain, or runs).
CREATE OR REPLACE FUNCTION lovar.unpacked(codec integer, data bytea) RETURNS bytea
  LANGUAGE plpgsql IMMUTABLE AS $f$
DECLARE
  result bytea := '';
  i integer := 0;
  c integer;
BEGIN
  IF codec = 0 THEN
    RETURN data;
  END IF;
  WHILE i < length(data) LOOP
    c := get_byte(data, i);
    IF c < 128 THEN
      result := result || substring(data FROM i + 2 FOR c + 1);
      i := i + c + 2;
    ELSE
      result := result || decode(repeat(lpad(to_hex(get_byte(data, i + 1)), 2, '0'), c - 125),
                                 'hex');
      i := i + 2;
    END IF;
  END LOOP;
  RETURN result;
END $f$;

-- The image with the model's code and key bytes blanked (0).
CREATE OR REPLACE FUNCTION lovar.masked(image_model integer, image bytea) RETURNS bytea
  LANGUAGE plpgsql STABLE AS $f$
DECLARE
  r record;
  result bytea := image;
BEGIN
  FOR r IN SELECT start, length FROM lovar.code_ranges WHERE model = image_model LOOP
    FOR b IN r.start .. r.start + r.length - 1 LOOP
      IF b < length(result) THEN
        result := set_byte(result, b, 0);
      END IF;
    END LOOP;
  END LOOP;
  RETURN result;
END $f$;

CREATE OR REPLACE VIEW lovar.record_images_masked AS
  SELECT r.record_id, r.model, i.hash, lovar.masked(r.model, lovar.unpacked(i.codec, i.data)) AS image
  FROM lovar.records r JOIN lovar.images i ON i.id = r.image;

-- Every change or removal of a row, by whom and when (the stations may make none).
CREATE TABLE IF NOT EXISTS lovar.admin_log (
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  at_us bigint NOT NULL DEFAULT lovar.now_us(),
  role text NOT NULL DEFAULT session_user,
  table_name text NOT NULL,
  operation text NOT NULL,
  old_row jsonb,
  new_row jsonb);
CREATE OR REPLACE FUNCTION lovar.log_change() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
  SET search_path = pg_catalog, pg_temp AS $f$
BEGIN
  -- An image's bytes are never copied here: a purge removes its codes from the log too.
  INSERT INTO lovar.admin_log (table_name, operation, old_row, new_row)
    VALUES (TG_TABLE_NAME, TG_OP, to_jsonb(OLD) - 'data',
            CASE WHEN TG_OP = 'UPDATE' THEN to_jsonb(NEW) - 'data' END);
  RETURN NULL;
END $f$;
DO $$
DECLARE
  name text;
BEGIN
  FOREACH name IN ARRAY ARRAY['sites', 'site_cards', 'records', 'images', 'record_notes',
                              'assignments', 'settings', 'schema_info', 'access_log',
                              'purges', 'record_drift', 'image_texts', 'card_texts',
                              'change_plans', 'plan_sites', 'plan_decisions', 'plan_claims',
                              'plan_outcomes'] LOOP
    EXECUTE format('DROP TRIGGER IF EXISTS logged ON lovar.%I', name);
    EXECUTE format('CREATE TRIGGER logged AFTER UPDATE OR DELETE ON lovar.%I '
                   'FOR EACH ROW EXECUTE PROCEDURE lovar.log_change()', name);
  END LOOP;
END $$;

REVOKE ALL ON ALL TABLES IN SCHEMA lovar FROM lovar_station, lovar_office, lovar_codes, lovar_admin;
GRANT USAGE ON SCHEMA lovar TO lovar_station, lovar_office, lovar_codes, lovar_admin;
GRANT SELECT ON lovar.schema_info, lovar.sites, lovar.site_cards, lovar.records,
  lovar.record_notes, lovar.assignments, lovar.record_sites, lovar.settings
  TO lovar_station, lovar_office, lovar_codes;
GRANT INSERT ON lovar.sites, lovar.site_cards, lovar.records, lovar.record_notes,
  lovar.assignments, lovar.settings, lovar.images TO lovar_station;
-- The search's texts (no codes, no keys): made by whoever records an image or a card.
GRANT SELECT ON lovar.image_texts, lovar.card_texts TO lovar_station, lovar_office, lovar_codes;
GRANT INSERT ON lovar.image_texts, lovar.card_texts TO lovar_station;
GRANT INSERT ON lovar.card_texts TO lovar_office;
GRANT INSERT ON lovar.sites, lovar.site_cards, lovar.record_notes, lovar.assignments
  TO lovar_office;
GRANT SELECT ON lovar.record_images_masked, lovar.code_ranges TO lovar_office, lovar_codes;
-- An image's name and length, never its bytes: clear codes only through lovar.clear_image,
-- which keeps each read in lovar.access_log (who, when, which record and site, why). A station
-- reads them to restore a device from an image; the office only when granted lovar_codes.
GRANT SELECT (id, hash, length) ON lovar.images TO lovar_station, lovar_office, lovar_codes;
REVOKE ALL ON FUNCTION lovar.clear_image(text, text, text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION lovar.clear_image(text, text, text, text)
  TO lovar_station, lovar_codes, lovar_admin;
GRANT SELECT ON lovar.access_log, lovar.purges TO lovar_office;
GRANT SELECT ON lovar.record_drift TO lovar_station, lovar_office, lovar_codes;
GRANT INSERT ON lovar.record_drift TO lovar_station;
-- A mistaken record is superseded by a new one (an insert); only the admin changes a record,
-- e.g. when a removed site's codes and keys are purged (lovar-cli sites purge), which the
-- server allows only for a site whose card says removed, and logs in lovar.purges.
-- Changes for many sites: the office plans and decides (approves, cancels, resumes); a station
-- claims a site and says its outcome.
GRANT SELECT ON lovar.change_plans, lovar.plan_sites, lovar.plan_decisions, lovar.plan_claims,
  lovar.plan_outcomes TO lovar_station, lovar_office, lovar_codes;
GRANT INSERT ON lovar.change_plans, lovar.plan_sites, lovar.plan_decisions TO lovar_office;
GRANT INSERT ON lovar.plan_claims, lovar.plan_outcomes TO lovar_station;
GRANT ALL ON ALL TABLES IN SCHEMA lovar TO lovar_admin;
)sql";

// The code and key bytes (and the passwords) of each model, as rows of lovar.code_ranges.
std::string Ranges() {
  std::string sql;
  for (int model : KnownModels())
    for (const CodeRange& r : CodeRanges(model))
      sql += "INSERT INTO lovar.code_ranges (model, start, length, field) VALUES (" +
             std::to_string(model) + ", " + std::to_string(r.start) + ", " +
             std::to_string(r.length) + ", '" + r.field + "') ON CONFLICT DO NOTHING;\n";
  return sql;
}

}  // namespace

std::string PostgresRolesScript() {
  std::string script = kRoles;
  script.replace(script.find("%RANGES%"), 8, Ranges());
  return script;
}

}  // namespace lovar
