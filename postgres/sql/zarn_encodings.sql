-- Server encodings. The parser reads UTF-8: text in another server encoding
-- is converted first, and in SQL_ASCII (no conversion at all) bytes that are
-- not UTF-8 are an error.
\set regression_db :DBNAME
CREATE DATABASE zarn_ascii ENCODING 'SQL_ASCII' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0;
CREATE DATABASE zarn_latin1 ENCODING 'LATIN1' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0;

\c zarn_ascii
CREATE EXTENSION zarn;
SHOW server_encoding;
-- This file is UTF-8, so these bytes are UTF-8 and parse as such.
SELECT * FROM zarn_parse('41, rue Curé-Poirier');
SELECT * FROM zarn_parse('5-123 rue Saint-Denis Ouest');
-- Bytes that are not UTF-8.
SELECT * FROM zarn_parse(E'12 Main St\xff');
SELECT zarn_street(E'\xc3 rue Curé', 'canada');
SELECT zarn_parse_json(E'12 rue \xed\xa0\x80');
DO $$
BEGIN
  PERFORM zarn_parse(E'\xc0\xaf Main St');
EXCEPTION WHEN character_not_in_repertoire THEN
  RAISE NOTICE 'SQLSTATE %', SQLSTATE;
END $$;
SELECT * FROM zarn_parse('123 Main St. N');

\c zarn_latin1
SET client_encoding = 'UTF8';
CREATE EXTENSION zarn;
SHOW server_encoding;
-- Stored as LATIN1, parsed as UTF-8, answered in LATIN1: the same answers as
-- in a UTF-8 database.
SELECT * FROM zarn_parse('41, rue Curé-Poirier');
SELECT zarn_street('12 rue Théroux Est'), zarn_direction('12 rue Théroux Est');
SELECT octet_length(zarn_street('41, rue Curé-Poirier')) AS latin1_bytes;

\c :regression_db
DROP DATABASE zarn_ascii;
DROP DATABASE zarn_latin1;
