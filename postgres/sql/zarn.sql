-- The functions of the extension: answers, NULLs, profiles, and the parts
-- agreeing with one another.
CREATE EXTENSION zarn;

-- Every function is STRICT, STABLE and PARALLEL SAFE.
SELECT p.oid::regprocedure AS function, provolatile, proisstrict, proparallel,
       pg_get_function_result(p.oid) AS result
FROM pg_proc p JOIN pg_depend d ON d.objid = p.oid AND d.deptype = 'e'
JOIN pg_extension x ON x.oid = d.refobjid AND x.extname = 'zarn'
ORDER BY 1::text;

-- The composite type.
SELECT attname, atttypid::regtype FROM pg_attribute
WHERE attrelid = 'zarn_parts'::regclass AND attnum > 0 ORDER BY attnum;

-- Known answers of the default rules.
SELECT * FROM zarn_parse('123 Main St. N');
SELECT (zarn_parse('5-123 rue Saint-Denis Ouest')).*;
SELECT zarn_parse('Apt 5 21st Ave');
SELECT zarn_parse_json('4500 boul Saint-Laurent Ouest');
SELECT zarn_street_number('123 Main St. N') AS number, zarn_street('123 Main St. N') AS street,
       zarn_street_type('123 Main St. N') AS type, zarn_direction('123 Main St. N') AS direction,
       zarn_unit('Apt 5 21st Ave') AS unit;
SELECT * FROM zarn_parse('');
SELECT * FROM zarn_parse('41, rue Curé-Poirier');
-- Whole addresses: municipality, province, postal code and delivery forms.
SELECT * FROM zarn_parse('PO Box 4001 Stn A, Toronto ON  M5W 1A1');
SELECT * FROM zarn_parse('5-123 rue Saint-Denis O., Montréal (Québec) H2X 3K8');
SELECT zarn_municipality('123 main st winnipeg mb') AS municipality,
       zarn_province('123 main st winnipeg mb') AS province,
       zarn_postal_code('123 Main St, Winnipeg, MB r3c1a1') AS postal_code;
-- The specified rules leave the whole-address fields empty.
SELECT * FROM zarn_parse('PO Box 4001 Stn A, Toronto ON  M5W 1A1', 'specified');

-- NULL in, NULL out.
SELECT zarn_parse(NULL) IS NULL AS parse, zarn_parse_json(NULL) IS NULL AS json,
       zarn_street(NULL) IS NULL AS street, zarn_street_type(NULL) IS NULL AS type,
       zarn_street_number(NULL) IS NULL AS number, zarn_direction(NULL) IS NULL AS direction,
       zarn_unit(NULL) IS NULL AS unit, zarn_parse('1 Main St', NULL) IS NULL AS profile;

-- The profile name ignores ASCII case; the default is the canada rules.
SELECT zarn_parse('123 Main St. N', 'CANADA') = zarn_parse('123 Main St. N') AS same,
       zarn_parse('123 Main St, Winnipeg MB R3C 1A1', 'Specified')
         = zarn_parse('123 Main St, Winnipeg MB R3C 1A1') AS specified_same;
SELECT pg_typeof(zarn_parse('123 Main St. N', 'canada')),
       pg_typeof(zarn_parse_json('123 Main St. N', 'Canada'));

-- For both profiles, the single-part functions and the JSON form agree with
-- the composite on every address.
CREATE TABLE addresses (address text);
INSERT INTO addresses VALUES ('123 Main St. N'), ('5-123 rue Saint-Denis Ouest'),
  ('Apt 5 21st Ave'), ('4500 boul Saint-Laurent Ouest'), ('St Laurent St'), ('123Main'),
  ('1503-185 ONTARIO ST'), ('305 SANDFORD ST UNIT 303'), ('12 3e Avenue Nord'), ('#4 100 King St W'),
  ('Unit# 7 44 Elm Cres'), ('2 Floor 500 Bay St'), (''), ('   '), ('----'), ('Ave');
SELECT profile, count(*) AS addresses,
       count(*) FILTER (WHERE p.street_number IS DISTINCT FROM zarn_street_number(address, profile)
                           OR p.street IS DISTINCT FROM zarn_street(address, profile)
                           OR p.street_type IS DISTINCT FROM zarn_street_type(address, profile)
                           OR p.direction IS DISTINCT FROM zarn_direction(address, profile)
                           OR p.unit IS DISTINCT FROM zarn_unit(address, profile)) AS part_mismatches,
       count(*) FILTER (WHERE to_jsonb(p) IS DISTINCT FROM zarn_parse_json(address, profile))
         AS json_mismatches,
       count(*) FILTER (WHERE zarn_parse_result(address, profile, true, true) - 'diagnostics'
                                - 'standard' - 'error'
                              IS DISTINCT FROM zarn_parse_json(address, profile))
         AS result_mismatches
FROM addresses, (VALUES ('specified'), ('canada')) AS v(profile),
     LATERAL zarn_parse(address, profile) AS p
GROUP BY profile ORDER BY profile;

-- The whole result: the fields, "error" (always null here: a failure is an
-- SQL error), the diagnostics and the standard form when asked for.
SELECT zarn_parse_result('5-123 rue Saint-Denis Ouest', 'canada', true, true);
SELECT zarn_parse_result('123 Main St. N');
SELECT zarn_parse_result('4500 boul Saint-Laurent Ouest', standard => true) -> 'standard'
  AS standard;
SELECT zarn_parse_result(NULL) IS NULL AS null_in_null_out;

-- Parse a column and write the parts into new columns.
CREATE TABLE customers (id int, address text);
INSERT INTO customers VALUES (1, '5-123 rue Saint-Denis Ouest'), (2, '123 Main St. N'), (3, NULL);
ALTER TABLE customers ADD COLUMN street_number text, ADD COLUMN street text,
  ADD COLUMN street_type text, ADD COLUMN direction text, ADD COLUMN unit text;
UPDATE customers c SET (street_number, street, street_type, direction, unit) =
  (SELECT p.street_number, p.street, p.street_type, p.direction, p.unit
   FROM zarn_parse(c.address) p);
SELECT * FROM customers ORDER BY id;
-- Or into a new table.
CREATE TABLE customers_parsed AS
  SELECT c.id, c.address, p.* FROM customers c, zarn_parse(c.address) p;
SELECT * FROM customers_parsed ORDER BY id;

-- Not IMMUTABLE: an index on the answers is refused.
CREATE INDEX ON customers (zarn_street(address));

DROP TABLE addresses, customers, customers_parsed;
