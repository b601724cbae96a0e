-- Databases, tables and accounts of a throwaway test/demo server. Tables carry
-- the columns the program's statements use; the rest is kept small.
-- Loaded as root by tools/mariadb_sandbox.sh.

-- Anonymous accounts would shadow '%' accounts for local connections.
DELETE FROM mysql.global_priv WHERE User = '';
FLUSH PRIVILEGES;

CREATE DATABASE IF NOT EXISTS tv_inhouse CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
CREATE DATABASE IF NOT EXISTS webhost CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;

USE tv_inhouse;

-- Accounts: password2 holds SHA1() of the password as the server computes it.
CREATE TABLE user (
  id         VARCHAR(50)  NOT NULL,
  password2  VARCHAR(40)  NOT NULL DEFAULT '',
  name       VARCHAR(50)  NOT NULL DEFAULT '',
  hidden     TINYINT      NOT NULL DEFAULT 0,
  PRIMARY KEY (id)
) ENGINE=InnoDB;

-- Machine allow-list: mac_addr is 12 hex digits without separators.
CREATE TABLE user_mac (
  seq        INT          NOT NULL AUTO_INCREMENT,
  user_id    VARCHAR(50)  NOT NULL,
  mac_addr   VARCHAR(12)  NOT NULL,
  block      TINYINT      NOT NULL DEFAULT 0,
  PRIMARY KEY (seq),
  KEY ix_user_mac_mac (mac_addr)
) ENGINE=InnoDB;

CREATE TABLE diary (
  seq        INT          NOT NULL AUTO_INCREMENT,
  writedate  DATE         NOT NULL,
  writer     VARCHAR(50)  NOT NULL,
  note       TEXT         NOT NULL,
  secret     TINYINT      NOT NULL DEFAULT 0,
  PRIMARY KEY (seq)
) ENGINE=InnoDB;

CREATE TABLE diary_part (
  seq        INT          NOT NULL AUTO_INCREMENT,
  diaryseq   INT          NOT NULL,
  partcode   INT          NOT NULL,
  PRIMARY KEY (seq),
  KEY ix_diary_part_diary (diaryseq)
) ENGINE=InnoDB;

USE webhost;

-- Final file name of each product's downloadable copy (code = product number).
CREATE TABLE file_rname (
  code       INT          NOT NULL,
  rname      VARCHAR(255) NOT NULL DEFAULT '',
  PRIMARY KEY (code)
) ENGINE=InnoDB;

CREATE TABLE cate3 (
  idx          INT          NOT NULL,
  title        VARCHAR(100) NOT NULL DEFAULT '',
  DemoDownFile VARCHAR(255) NOT NULL DEFAULT '',
  PRIMARY KEY (idx)
) ENGINE=InnoDB;

CREATE TABLE cate3_info (
  idx          INT          NOT NULL,
  title        VARCHAR(100) NOT NULL DEFAULT '',
  DemoDownFile VARCHAR(255) NOT NULL DEFAULT '',
  PRIMARY KEY (idx)
) ENGINE=InnoDB;

-- The catalogue entries of the four downloadable products.
INSERT INTO file_rname (code, rname) VALUES
  (1, 'TVledger2_setup.exe'), (2, 'TVledgerCS_setup.exe'),
  (3, 'TVplantCS_setup.exe'), (4, 'TVplantProCS_setup.exe');
INSERT INTO cate3 (idx, title, DemoDownFile) VALUES
  (48, 'TVledger2', 'TVledger2_setup.exe'), (49, 'TVledgerCS', 'TVledgerCS_setup.exe'),
  (52, 'TVplantCS', 'TVplantCS_setup.exe'), (86, 'TVplantProCS', 'TVplantProCS_setup.exe');
INSERT INTO cate3_info (idx, title, DemoDownFile) VALUES
  (62, 'TVledger2', 'TVledger2_setup.exe'), (63, 'TVledgerCS', 'TVledgerCS_setup.exe'),
  (65, 'TVplantCS', 'TVplantCS_setup.exe'), (88, 'TVplantProCS', 'TVplantProCS_setup.exe');

-- Accounts, as the tests' and the demo's site configurations name them (the
-- program has none built in); the developer account is the one whose
-- deadlocks are retried (site DeveloperAccount).
CREATE USER 'tv_inhouse'@'%' IDENTIFIED BY 'tv!n2020';
GRANT ALL PRIVILEGES ON tv_inhouse.* TO 'tv_inhouse'@'%';
CREATE USER 'WebHostUser'@'%' IDENTIFIED BY 'webH0st!2020';
GRANT ALL PRIVILEGES ON webhost.* TO 'WebHostUser'@'%';
CREATE USER 'tv_dev'@'%' IDENTIFIED BY 'tvDev!2020';
GRANT ALL PRIVILEGES ON tv_inhouse.* TO 'tv_dev'@'%';
GRANT ALL PRIVILEGES ON webhost.* TO 'tv_dev'@'%';
FLUSH PRIVILEGES;
