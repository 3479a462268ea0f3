#pragma once

#include "store/connection.h"
#include "store/table.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace store {

// One index tag of a table, as the start-up step creates it.
struct TagSchema {
    QString name; // as created ("PagerComp"); matched without regard to case
    QString expression; // fields joined by "+"
    bool unique = false;
    QString indexFile; // the index file name given to tag creation ("Busers", "BUsers")
};

// One of the desk's tables: its names in the several spellings the program uses, its fields, its
// tags in creation order and the tag its handle opens in.
struct TableSchema {
    QString openedAs; // "BUSERS.DBF"
    QString lookedFor; // "Busers.dbf"
    QString createdUnder; // "Busers.dbf"
    QString indexLookedFor; // "Busers.cdx"; empty: no index file
    QString fieldDefinitions;
    std::vector<TagSchema> tags;
    QString defaultTag; // "" = record order
};

const TableSchema& busersSchema();
const TableSchema& pageCompSchema();
const TableSchema& groupsSchema();
const TableSchema& quickMsgSchema();
const TableSchema& modemsSchema();
const TableSchema& msgLogSchema();
const TableSchema& schedMsgSchema();
// The carriers' delivery paths and the pages' delivery status: tables of the desk's own, beside
// the seven.
const TableSchema& carrPathSchema();
const TableSchema& dlvStatSchema();
// The programs that page through the desk and the alerts they raised.
const TableSchema& sourcesSchema();
const TableSchema& alertsSchema();

// Makes `handle` a handle on the table of `schema` in the connection's folder: closed, bound to
// the table by the name it is opened as, its default tag selected, for shared use. Opening it is
// the caller's.
void bindHandle(Table& handle, const Connection& connection, const TableSchema& schema);

// Each creates its table, empty, under the data folder with the name it is created under.
void Create_Busers(const Connection& connection);
void Create_PageComp(const Connection& connection);
void Create_Groups(const Connection& connection);
void Create_QuickMsg(const Connection& connection);
void Create_Modems(const Connection& connection);
void Create_MsgLog(const Connection& connection);
void Create_SchedMsg(const Connection& connection);
void Create_CarrPath(const Connection& connection);
void Create_DlvStat(const Connection& connection);
void Create_Sources(const Connection& connection);
void Create_Alerts(const Connection& connection);

// Each builds its table's tags from the records on the table's handle: the handle is closed,
// bound to the connection's folder, opened for exclusive use in record order, given its tags and
// closed again; whether that succeeded or not, it is left closed, marked for shared use, with its
// default tag selected.
void Index_Busers(Table& handle, const Connection& connection);
void Index_PageComp(Table& handle, const Connection& connection);
void Index_Groups(Table& handle, const Connection& connection);
void Index_Modems(Table& handle, const Connection& connection);
void Index_MsgLog(Table& handle, const Connection& connection);
void Index_SchedMsg(Table& handle, const Connection& connection);
void Index_CarrPath(Table& handle, const Connection& connection);
void Index_DlvStat(Table& handle, const Connection& connection);
void Index_Sources(Table& handle, const Connection& connection);
void Index_Alerts(Table& handle, const Connection& connection);

// The start-up step: creates every missing table (BUSERS, PAGECOMP, MODEMS, MSGLOG2, SCHEDMS2,
// GROUPS, QUICKMSG, then CARRPATH, DLVSTAT, SOURCES and ALERTS), then builds the tags of every
// table whose index file is missing (the same order, without QUICKMSG). A table that exists is
// never re-created, so a data folder of an older desk, with the first seven only, gains the new
// tables and nothing else changes. An index file that fails its
// check, or lacks a tag of its table, is rebuilt from the records, and its fault is returned so
// that the operator can be told; every other failure throws StoreError naming the file.
QStringList CreateDatabase(const Connection& connection);

} // namespace store
