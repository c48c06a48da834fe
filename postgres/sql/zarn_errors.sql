-- Errors: each is a PostgreSQL error with its own SQLSTATE, and the session
-- goes on parsing afterwards.
SET client_min_messages = warning;
CREATE EXTENSION IF NOT EXISTS zarn;
RESET client_min_messages;

-- Runs `query` and tells how it ended: "ok", or the SQLSTATE and message
-- (with the database path shown as <database>).
CREATE FUNCTION pg_temp.attempt(query text) RETURNS text LANGUAGE plpgsql AS $$
BEGIN
  EXECUTE query;
  RETURN 'ok';
EXCEPTION WHEN OTHERS THEN
  RETURN SQLSTATE || ' ' || replace(SQLERRM, current_setting('zarn.database'), '<database>');
END $$;

-- Unknown profile.
SELECT pg_temp.attempt($$SELECT zarn_parse('1 Main St', 'bogus')$$);
SELECT pg_temp.attempt($$SELECT zarn_street('1 Main St', '')$$);
SELECT pg_temp.attempt($$SELECT zarn_parse_json('1 Main St', repeat('canada', 100))$$);
SELECT zarn_unit('1 Main St', 'quebec');

-- Lengths: 32,767 characters parse; one more, or a megabyte, is too long.
SELECT pg_temp.attempt($$SELECT zarn_parse(repeat('a', 32767))$$);
SELECT pg_temp.attempt($$SELECT zarn_parse(repeat('a', 32768))$$);
SELECT pg_temp.attempt($$SELECT zarn_street('12 ' || repeat('Main ', 200000) || 'St')$$);
SELECT pg_temp.attempt($$SELECT zarn_parse_json(repeat('é', 40000), 'canada')$$);
SELECT zarn_street(repeat('a', 32768));
SELECT * FROM zarn_parse('123 Main St. N');

-- The reference database.
SELECT current_setting('zarn.database') AS bundled_database \gset
SELECT :'bundled_database' LIKE '%/zarn/qordatavb.DAT' AS bundled_default;
SET zarn.database = '/nonexistent/qordatavb.DAT';
SELECT pg_temp.attempt($$SELECT zarn_parse('123 Main St. N')$$);
SELECT pg_temp.attempt($$SELECT zarn_street('123 Main St. N', 'canada')$$);
SET zarn.database = '/';
SELECT pg_temp.attempt($$SELECT zarn_parse('123 Main St. N')$$);
-- A file that is not a database: this test's own source.
\getenv srcdir PG_ABS_SRCDIR
SELECT :'srcdir' || '/sql/zarn_errors.sql' AS not_a_database \gset
SET zarn.database = :'not_a_database';
SELECT pg_temp.attempt($$SELECT zarn_parse('123 Main St. N')$$);
SET zarn.database = '';
SELECT pg_temp.attempt($$SELECT zarn_parse('123 Main St. N')$$);
-- More databases than a backend keeps parsers for: the oldest are closed.
DO $$
BEGIN
  FOR i IN 1..20 LOOP
    PERFORM set_config('zarn.database', '/nonexistent/db' || i, true);
    BEGIN
      PERFORM zarn_parse('123 Main St. N');
      RAISE EXCEPTION 'database % parsed', i;
    EXCEPTION WHEN undefined_file THEN NULL;
    END;
  END LOOP;
END $$;
RESET zarn.database;
SELECT current_setting('zarn.database') = :'bundled_database' AS reset_to_bundled;
SELECT * FROM zarn_parse('123 Main St. N');
SELECT * FROM zarn_parse('123 Main St. N', 'canada') WHERE false;

-- Only a superuser chooses the file; anyone may parse.
CREATE ROLE zarn_reader;
SET ROLE zarn_reader;
SET zarn.database = '/tmp/x.DAT';
SELECT * FROM zarn_parse('5-123 rue Saint-Denis Ouest');
RESET ROLE;
DROP ROLE zarn_reader;

-- Unknown settings in the zarn namespace are refused.
SET zarn.databse = 'x';
