-- Demo rows on top of the test schema: the work-diary account of inis/demo.ini
-- (업무일지ID=dev01), the diary's product codes of its projects (업무일지CODE
-- 101-104) and catalogue entries under their web codes (웹게시CODE).
SET NAMES utf8mb4;

USE tv_inhouse;

INSERT INTO user (id, password2, name) VALUES ('dev01', SHA1('demo'), '데모 개발자');

-- The products a diary entry can be filed under (diary_part.partcode).
CREATE TABLE part (
  partcode   INT          NOT NULL,
  name       VARCHAR(50)  NOT NULL,
  PRIMARY KEY (partcode)
) ENGINE=InnoDB;
INSERT INTO part (partcode, name) VALUES
  (101, '원장관리'), (102, '세금계산서'), (103, '급여관리'), (104, '재고관리');

USE webhost;

INSERT INTO cate3 (idx, title, DemoDownFile) VALUES
  (1001, 'LEDGER', 'ledger_setup.exe'), (1002, 'TAX', 'tax_setup.exe'),
  (1003, 'PAY', 'pay_setup.exe'), (1004, 'STOCK', 'stock_setup.exe');
INSERT INTO cate3_info (idx, title, DemoDownFile) VALUES
  (1001, 'LEDGER', 'ledger_setup.exe'), (1002, 'TAX', 'tax_setup.exe'),
  (1003, 'PAY', 'pay_setup.exe'), (1004, 'STOCK', 'stock_setup.exe');
