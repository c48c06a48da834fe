/* ZarnAddressParser: the output fields of a parse, one row each. Plain C99
 * and C++, included by zarn.h and zarn.hpp.
 *
 * Every interface reads this table to name what it writes: the members of
 * zarn::AddressParts, zarn-parse's columns, zarn-serve's JSON keys, the
 * SQLite functions and JSON keys, the PostgreSQL composite type (generated
 * from it at build time), Python's Parts and pandas columns, and the C
 * result read by field (zarn_result_field). Adding a field is one row here,
 * at the end (a field's index never changes), plus the rules that fill it.
 *
 * A row: X(ID, name, profiles, meaning)
 *   ID        the upper-case name, giving the constant ZARN_FIELD_<ID>
 *   name      the field's name in every interface (a C identifier)
 *   profiles  the rule profiles that fill it (ZARN_FILLED_BY_* bits); the
 *             others leave it empty
 *   meaning   one line saying what it holds
 */
#ifndef ZARN_FIELDS_H_
#define ZARN_FIELDS_H_

/* Bits of a field's `profiles`: 1 << the profile's number (0 specified, 1
 * canada). */
#define ZARN_FILLED_BY_SPECIFIED 0x1u
#define ZARN_FILLED_BY_CANADA 0x2u
#define ZARN_FILLED_BY_ALL (ZARN_FILLED_BY_SPECIFIED | ZARN_FILLED_BY_CANADA)

/* clang-format off */
#define ZARN_FIELDS(X)                                                                   \
  X(STREET_NUMBER, street_number, ZARN_FILLED_BY_ALL,                                    \
    "the civic number (123; with the canada rules also 123 1/2, 56 D, 1630-1670)")       \
  X(STREET, street, ZARN_FILLED_BY_ALL, "the street name (Main, Saint Denis)")           \
  X(STREET_TYPE, street_type, ZARN_FILLED_BY_ALL, "the street type (Street, rue, Avenue)") \
  X(DIRECTION, direction, ZARN_FILLED_BY_ALL, "the direction, one or two letters (N, SW)") \
  X(UNIT, unit, ZARN_FILLED_BY_ALL, "the unit, apartment or suite, without designator (5)") \
  X(PO_BOX, po_box, ZARN_FILLED_BY_CANADA,                                              \
    "the PO box's identifier (PO BOX 4001, CP 123, Box 6: 4001)")                       \
  X(RURAL_ROUTE, rural_route, ZARN_FILLED_BY_CANADA,                                    \
    "the rural route's identifier (RR 2: 2; a suburban or mobile route keeps its kind: SS 3)") \
  X(GENERAL_DELIVERY, general_delivery, ZARN_FILLED_BY_CANADA,                          \
    "GD for general delivery (GD, General Delivery, PR, Poste restante)")               \
  X(STATION, station, ZARN_FILLED_BY_CANADA,                                            \
    "the delivery installation, its English symbol and name (STN A, RPO Westmount)")    \
  X(MUNICIPALITY, municipality, ZARN_FILLED_BY_CANADA,                                  \
    "the municipality as typed, punctuation around it dropped (Winnipeg, Saint-Laurent)") \
  X(PROVINCE, province, ZARN_FILLED_BY_CANADA,                                          \
    "the province or territory's two-letter symbol (MB, QC)")                           \
  X(POSTAL_CODE, postal_code, ZARN_FILLED_BY_CANADA, "the postal code, A9A 9A9 upper case (R3C 1A1)")
/* clang-format on */

/* ZARN_FIELD_STREET_NUMBER ... ZARN_FIELD_POSTAL_CODE: the index of each field. */
#define ZARN_FIELD_ENUMERATOR_(id, name, profiles, meaning) ZARN_FIELD_##id,
enum zarn_field { ZARN_FIELDS(ZARN_FIELD_ENUMERATOR_) ZARN_FIELD_COUNT_ };
#undef ZARN_FIELD_ENUMERATOR_

/* The number of fields in this header. A library built from a later header
 * may fill more: read the count of a result (zarn_result_field_count) or of
 * the library (zarn_field_count) rather than this constant. */
#define ZARN_FIELD_COUNT ((int)ZARN_FIELD_COUNT_)

#endif /* ZARN_FIELDS_H_ */
