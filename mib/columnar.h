// Columnar objects: one column of an SNMP table, one instance per row.
//
// The instance name is the column's OID followed by the row's index. The
// table finds the row for an index; the column's packer turns the row
// record's field into the value and back. Register one ColumnarLeaf per
// column, all over the same table, under the column's OID (the entry's OID
// followed by the column number). A GetNext walk then visits the table
// column by column, each column in index order. Index columns and other
// columns no Set may change are registered with Access::ReadOnly.
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

#include "mib/leaf.h"
#include "mib/packer.h"
#include "mib/table.h"

class ColumnarLeaf : public Leaf {
  public:
    // Neither pointer is owned; `table` must not be null.
    ColumnarLeaf(Packer* packer, Table* table, Access access = Access::ReadWrite)
        : packer(packer), table(table), access(access) {}

    // Answers the row whose index is exactly ctx.oid.
    bool get(Context& ctx) override;
    // Answers the first row whose index is greater than ctx.oid; fails at the
    // end of the table (a null record from the table's getNext).
    bool getNext(Context& ctx) override;
    // Decodes the value into the existing row at ctx.setSuffix (never
    // creates a row) and commits it through the table. False, with the row
    // as it was, when there is no such row, the value does not decode or the
    // table's source refuses it.
    bool set(Context& ctx) override;
    // notWritable for a read-only leaf, a packer that serves a fixed value
    // and a row the table accepts no writes for; then the packer's
    // testValue; noCreation when no row has the index.
    snmp::ErrorStatus testSet(Context& ctx) override;
    // Keeps the value held, then calls set: commitFailed when set fails.
    snmp::ErrorStatus commitSet(Context& ctx, std::string& undo) override;
    // Commits the kept value again.
    bool undoSet(Context& ctx, std::string const& undo) override;

    Packer* const packer;
    Table* const table;
    const Access access;
};

// Registers a ColumnarLeaf over `packer` and `table` under the column's OID.
void addColumnarLeaf(OID const& oid, Packer* packer, Table* table,
                     Access access = Access::ReadWrite);
