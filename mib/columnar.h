// Columnar objects: one column of an SNMP table, one instance per row.
//
// The instance name is the column's OID followed by the row's index. The
// table finds the row for an index; the column's packer turns the row
// record's field into the value and back. Register one ColumnarLeaf per
// column, all over the same table, under the column's OID (the entry's OID
// followed by the column number). A GetNext walk then visits the table
// column by column, each column in index order. Index columns and other
// columns no Set may change are registered with Access::ReadOnly. The Set
// protocol is FieldLeaf's (mib/field_leaf.h).
//
//     MapTable* ifTable = new MapTable(ifProvider);
//     ifTable->addIndex(new DataNumPacker(field(&IfRecord::index), ber::INTEGER));
//     addColumnarLeaf(OID("1.3.6.1.2.1.2.2.1.1"),
//                     new DataNumPacker(field(&IfRecord::index), ber::INTEGER), ifTable,
//                     Access::ReadOnly);
//     addColumnarLeaf(OID("1.3.6.1.2.1.2.2.1.2"),
//                     new DataStringPacker(field(&IfRecord::descr), ber::OCTET_STRING, 0),
//                     ifTable, Access::ReadOnly);
#pragma once

#include "mib/field_leaf.h"
#include "mib/packer.h"
#include "mib/table.h"

class ColumnarLeaf : public FieldLeaf {
  public:
    // `table` must not be null. The registry takes both with the leaf
    // (addLeaf).
    ColumnarLeaf(Packer* packer, Table* table, Access access = Access::ReadWrite)
        : FieldLeaf(packer, access), table(table) {}

    // Answers the row whose index is exactly ctx.oid.
    bool get(Context& ctx) override;
    // Answers the first row whose index is greater than ctx.oid; fails at the
    // end of the table (a null record from the table's getNext).
    bool getNext(Context& ctx) override;
    void handParts(Ownership& owner) override;

    Table* const table;

  protected:
    // The table's acceptsWrites for the row.
    bool acceptsWrites(OID const& suffix) override;
    // The existing row at `suffix`: a Set never creates rows (noCreation).
    Data* findRecord(OID const& suffix, snmp::ErrorStatus& missing) override;
    // The table's commit of the row.
    bool commitRecord(OID const& suffix, Data* rec) override;
};

// Registers a ColumnarLeaf over `packer` and `table` under the column's OID.
void addColumnarLeaf(OID const& oid, Packer* packer, Table* table,
                     Access access = Access::ReadWrite);
