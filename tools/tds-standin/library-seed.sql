-- A small library database for the demo: the four OPAC tables, their five
-- triggers, and the ordinary library tables that the OPAC cleanup must leave
-- alone, each with a few rows. Batches are separated by lines holding only
-- GO; a trigger takes the rest of its batch as its body.
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
-- The rows: loaded before the triggers exist, as a library's data would be
-- when its OPAC tables were first built.
INSERT INTO books (book_id, title, author, isbn) VALUES
  (1, N'红楼梦', N'曹雪芹', '978-7-02-000220-7'),
  (2, N'西游记', N'吴承恩', '978-7-02-001059-2'),
  (3, N'三国演义', N'罗贯中', '978-7-02-000868-1'),
  (4, N'水浒传', N'施耐庵', '978-7-02-000187-3'),
  (5, N'围城', N'钱锺书', '978-7-02-009024-2'),
  (6, N'活着', N'余华', '978-7-5063-1104-5'),
  (7, N'Alice''s Adventures in Wonderland', N'Lewis Carroll', NULL)
INSERT INTO readers (reader_id, name, card_no) VALUES
  (101, N'王小明', 'R2024-0101'),
  (102, N'李芳', 'R2024-0102'),
  (103, N'张伟', 'R2024-0103'),
  (104, N'陈静', 'R2024-0104')
INSERT INTO lib_cunfang (tiaoma, book_id, location) VALUES
  ('A0000101', 1, N'一楼 文学 I242.4'),
  ('A0000102', 1, N'一楼 文学 I242.4'),
  ('A0000201', 2, N'一楼 文学 I242.4'),
  ('A0000301', 3, N'一楼 文学 I242.4'),
  ('A0000401', 4, N'一楼 文学 I242.4'),
  ('A0000501', 5, N'二楼 现代文学 I246.5'),
  ('A0000601', 6, N'二楼 现代文学 I247.5'),
  ('A0000701', 7, NULL)
INSERT INTO loans (loan_id, tiaoma, reader_id, loaned_on, returned_on) VALUES
  (5001, 'A0000101', 101, '2024-03-04 10:15:00', '2024-03-25 16:40:00'),
  (5002, 'A0000501', 102, '2024-03-11 14:02:00', NULL),
  (5003, 'A0000301', 103, '2024-03-12 09:30:00', NULL),
  (5004, 'A0000102', 104, '2024-03-18 11:45:00', '2024-04-01 10:05:00'),
  (5005, 'A0000601', 101, '2024-04-02 15:20:00', NULL)
INSERT INTO lib_opac_ver (ver) VALUES (17)
INSERT INTO lib_opac_bianma (book_id, title) VALUES
  (1, N'红楼梦'), (2, N'西游记'), (3, N'三国演义'), (4, N'水浒传'),
  (5, N'围城'), (6, N'活着')
INSERT INTO lib_opac_tiaoma (tiaoma, book_id) VALUES
  ('A0000101', 1), ('A0000102', 1), ('A0000201', 2), ('A0000301', 3),
  ('A0000401', 4), ('A0000501', 5), ('A0000601', 6)
INSERT INTO lib_opac_change (change_id, tiaoma, changed_on) VALUES
  (1, 'A0000501', '2024-03-11 14:02:00'),
  (2, 'A0000301', '2024-03-12 09:30:00'),
  (3, 'A0000102', '2024-03-18 11:45:00')
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
