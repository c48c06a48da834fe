-- Schema of the bundled reference database (qordatavb.DAT).
-- Text columns compare without regard to ASCII letter case (COLLATE NOCASE),
-- and every looked-up column is indexed.

CREATE TABLE StreetType (
  streettypeid   INTEGER PRIMARY KEY,
  StreetTypeDesc TEXT NOT NULL COLLATE NOCASE,
  Country        TEXT,
  Language       TEXT,
  Source         TEXT,
  Comment        TEXT
);
CREATE UNIQUE INDEX StreetTypeByDesc ON StreetType (StreetTypeDesc);

-- Alternate forms of street-type words ("Ave" for "Avenue").
CREATE TABLE AlternateStreetType (
  AlternateStreetTypeID    INTEGER PRIMARY KEY,
  AlternateDeliveryAddress TEXT NOT NULL COLLATE NOCASE,
  streettypeid             INTEGER NOT NULL REFERENCES StreetType (streettypeid),
  Source                   TEXT,
  Comment                  TEXT
);
CREATE UNIQUE INDEX AlternateStreetTypeByForm ON AlternateStreetType (AlternateDeliveryAddress);

CREATE VIEW qryAlternateStreetTypes AS
  SELECT a.AlternateDeliveryAddress AS AlternateDeliveryAddress,
         s.StreetTypeDesc AS StreetTypeDesc
  FROM AlternateStreetType AS a
  JOIN StreetType AS s ON s.streettypeid = a.streettypeid
  ORDER BY a.AlternateStreetTypeID;

-- Known alternate forms of addresses (type 4: "number street type") and of
-- street names (type 1), with the delivery form each stands for.
CREATE TABLE AlternateAddress (
  AlternateAddressID       INTEGER PRIMARY KEY,
  AlternateDeliveryAddress TEXT COLLATE NOCASE,
  AlternateAddressTypeID   INTEGER,
  DeliveryStreet           TEXT COLLATE NOCASE,
  DeliveryNumber           TEXT COLLATE NOCASE,
  DeliveryType             TEXT COLLATE NOCASE,
  DeliveryAddress          TEXT COLLATE NOCASE
);
CREATE INDEX AlternateAddressByKey
  ON AlternateAddress (AlternateDeliveryAddress, AlternateAddressTypeID);

-- Canada Post's symbol of a street type in one language ('en' or 'fr'), used
-- only to write the standard form of an address; the parse never reads it.
-- StreetTypeDesc is the street type's delivery form, as in StreetType.
CREATE TABLE StreetTypeSymbol (
  StreetTypeSymbolID INTEGER PRIMARY KEY,
  StreetTypeDesc     TEXT NOT NULL COLLATE NOCASE,
  Language           TEXT NOT NULL,
  Symbol             TEXT NOT NULL,
  Source             TEXT,
  Comment            TEXT
);
CREATE UNIQUE INDEX StreetTypeSymbolByType ON StreetTypeSymbol (StreetTypeDesc, Language);

-- The gazetteer: Canadian municipalities and places with their province or
-- territory (two-letter symbol), which the canada profile reads to find the
-- municipality of a whole address. Kind: csd (a census subdivision),
-- csd_alternate (its other official name), place (a locality inside one).
CREATE TABLE Municipality (
  MunicipalityID INTEGER PRIMARY KEY,
  Name           TEXT NOT NULL COLLATE NOCASE,
  Province       TEXT NOT NULL,
  Kind           TEXT,
  Source         TEXT,
  Comment        TEXT
);
CREATE INDEX MunicipalityByName ON Municipality (Name);
