-- A small library database for the demo: the four OPAC tables, their five
-- triggers, and the ordinary library tables that the OPAC cleanup must leave
-- alone. Batches are separated by lines holding only GO; a trigger takes the
-- rest of its batch as its body.
CREATE TABLE books (
  book_id int NOT NULL PRIMARY KEY,
  title nvarchar(200) NOT NULL,
  author nvarchar(100) NULL,
  isbn varchar(20) NULL
)
CREATE TABLE readers (
  reader_id int NOT NULL PRIMARY KEY,
  name nvarchar(50) NOT NULL,
  card_no varchar(20) NOT NULL
)
CREATE TABLE lib_cunfang (
  tiaoma varchar(20) NOT NULL PRIMARY KEY,
  book_id int NOT NULL,
  location nvarchar(50) NULL
)
CREATE TABLE loans (
  loan_id int NOT NULL PRIMARY KEY,
  tiaoma varchar(20) NOT NULL,
  reader_id int NOT NULL,
  loaned_on datetime NOT NULL,
  returned_on datetime NULL
)
CREATE TABLE lib_opac_ver (
  ver int NOT NULL
)
CREATE TABLE lib_opac_bianma (
  book_id int NOT NULL,
  title nvarchar(200) NULL
)
CREATE TABLE lib_opac_tiaoma (
  tiaoma varchar(20) NOT NULL,
  book_id int NOT NULL
)
CREATE TABLE lib_opac_change (
  change_id int NOT NULL,
  tiaoma varchar(20) NOT NULL,
  changed_on datetime NOT NULL
)
GO
CREATE TRIGGER T_INSERT_bianma ON lib_opac_bianma FOR INSERT AS
  UPDATE lib_opac_ver SET ver = ver + 1
GO
CREATE TRIGGER T_DELETE_bianma ON lib_opac_bianma FOR DELETE AS
  UPDATE lib_opac_ver SET ver = ver + 1
GO
CREATE TRIGGER T_INSERT_tiaoma ON lib_opac_tiaoma FOR INSERT AS
  UPDATE lib_opac_ver SET ver = ver + 1
GO
CREATE TRIGGER T_DELETE_tiaoma ON lib_opac_tiaoma FOR DELETE AS
  UPDATE lib_opac_ver SET ver = ver + 1
GO
CREATE TRIGGER T_CHG_cunfang ON lib_cunfang FOR UPDATE AS
  INSERT INTO lib_opac_change (change_id, tiaoma, changed_on)
  SELECT 0, tiaoma, GETDATE() FROM inserted
GO
