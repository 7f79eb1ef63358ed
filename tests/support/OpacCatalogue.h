// Seed for the SQL Server stand-in: the four OPAC tables and the five
// triggers, T_CHG_cunfang on the holdings table lib_cunfang.
#pragma once

namespace tarnwick::test {

inline constexpr const char kAllOpacObjects[] =
    "CREATE TABLE lib_cunfang (id int)\nGO\n"
    "CREATE TABLE lib_opac_ver (id int)\nGO\n"
    "CREATE TABLE lib_opac_bianma (id int)\nGO\n"
    "CREATE TABLE lib_opac_tiaoma (id int)\nGO\n"
    "CREATE TABLE lib_opac_change (id int)\nGO\n"
    "CREATE TRIGGER T_INSERT_bianma ON lib_opac_bianma FOR INSERT AS SELECT 1\nGO\n"
    "CREATE TRIGGER T_DELETE_bianma ON lib_opac_bianma FOR DELETE AS SELECT 1\nGO\n"
    "CREATE TRIGGER T_INSERT_tiaoma ON lib_opac_tiaoma FOR INSERT AS SELECT 1\nGO\n"
    "CREATE TRIGGER T_DELETE_tiaoma ON lib_opac_tiaoma FOR DELETE AS SELECT 1\nGO\n"
    "CREATE TRIGGER T_CHG_cunfang ON lib_cunfang FOR UPDATE AS SELECT 1\nGO\n";

}  // namespace tarnwick::test
