-- Stelvik's sample database: departments, employees and their orders.
-- Built into the user's data folder by scripts/sample with the sqlite3 command-line tool.
PRAGMA foreign_keys = ON;
BEGIN;

DROP TABLE IF EXISTS orders;
DROP TABLE IF EXISTS employees;
DROP TABLE IF EXISTS departments;

CREATE TABLE departments (
    dept_id     INTEGER PRIMARY KEY,
    dept_name   VARCHAR(40) NOT NULL,
    location    VARCHAR(40),
    budget      DECIMAL(12,2),
    founded     DATE
);

INSERT INTO departments VALUES
    (10, 'Accounting', 'Zurich', 1250000.00, '1998-03-01'),
    (20, 'Research & Development', 'Basel', 4800000.50, '2001-07-15'),
    (30, 'Sales', 'Geneva, Lake Side', 2300000.00, '1998-03-01'),
    (40, 'Operations', 'Bern', 980000.25, '2005-11-30'),
    (50, 'The "Special" Projects', NULL, NULL, '2019-01-02'),
    (60, 'Customer Service', 'Lugano', 640000.00, NULL);

CREATE TABLE employees (
    emp_id      INTEGER PRIMARY KEY,
    dept_id     INTEGER REFERENCES departments(dept_id),
    first_name  VARCHAR(30) NOT NULL,
    last_name   VARCHAR(30) NOT NULL,
    email       VARCHAR(60),
    salary      DECIMAL(10,2),
    bonus_rate  DOUBLE,
    hire_date   DATE,
    shift_start TIME,
    last_login  TIMESTAMP,
    notes       VARCHAR(120)
);

-- A few hand-written rows with the awkward values: quotes, commas, NULLs, midnight.
INSERT INTO employees VALUES
    (1, 10, 'Anna', 'Keller', 'anna.keller@example.com', 98500.00, 0.125, '2003-04-01',
     '08:00:00', '2024-05-17 09:12:45', 'Team lead, "payroll"'),
    (2, 20, 'Bruno', 'O''Neill', 'bruno.oneill@example.com', 112000.75, 0.2, '2010-09-15',
     '09:30:00', '2024-05-17 00:00:00', 'Says "it''s fine", usually'),
    (3, 30, 'Chiara', 'Rossi', NULL, 67250.50, NULL, '2018-01-08', NULL, NULL, NULL),
    (4, 50, 'Daniel', 'Meier-Schmid', 'daniel@example.com', NULL, 0.0, NULL, '22:15:30',
     '2023-12-31 23:59:59', 'Comma, separated, notes');

-- Generated staff.
WITH RECURSIVE seq(n) AS (SELECT 5 UNION ALL SELECT n + 1 FROM seq WHERE n < 1000)
INSERT INTO employees
SELECT n,
       CASE n % 6 WHEN 0 THEN 10 WHEN 1 THEN 20 WHEN 2 THEN 30 WHEN 3 THEN 40
                  WHEN 4 THEN 50 ELSE 60 END,
       CASE n % 8 WHEN 0 THEN 'Eva' WHEN 1 THEN 'Felix' WHEN 2 THEN 'Greta' WHEN 3 THEN 'Hugo'
                  WHEN 4 THEN 'Ines' WHEN 5 THEN 'Jonas' WHEN 6 THEN 'Karin' ELSE 'Luca' END,
       CASE n % 7 WHEN 0 THEN 'Baumann' WHEN 1 THEN 'Favre' WHEN 2 THEN 'Bianchi'
                  WHEN 3 THEN 'Huber' WHEN 4 THEN 'D''Amico' WHEN 5 THEN 'Graf' ELSE 'Frei' END,
       CASE WHEN n % 17 = 0 THEN NULL ELSE 'employee' || n || '@example.com' END,
       CASE WHEN n % 23 = 0 THEN NULL ELSE 42000 + (n * 137) % 90000 + (n % 100) / 100.0 END,
       CASE WHEN n % 11 = 0 THEN NULL ELSE ((n * 7) % 30) / 100.0 END,
       date('2000-01-01', '+' || ((n * 37) % 8800) || ' days'),
       CASE WHEN n % 13 = 0 THEN NULL
            ELSE time('06:00:00', '+' || ((n * 15) % 840) || ' minutes') END,
       CASE WHEN n % 19 = 0 THEN NULL
            ELSE datetime('2024-01-01 00:00:00', '+' || ((n * 7919) % 15000000) || ' seconds') END,
       CASE n % 5 WHEN 0 THEN 'Part-time, mornings' WHEN 1 THEN 'Prefers "remote" days'
                  WHEN 2 THEN NULL ELSE '' END
FROM seq;

CREATE TABLE orders (
    order_id    INTEGER PRIMARY KEY,
    emp_id      INTEGER REFERENCES employees(emp_id),
    customer    VARCHAR(60),
    amount      DECIMAL(12,2),
    quantity    SMALLINT,
    discount    FLOAT,
    ordered_at  TIMESTAMP,
    ship_date   DATE,
    status      VARCHAR(12)
);

WITH RECURSIVE seq(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM seq WHERE n < 3000)
INSERT INTO orders
SELECT n,
       1 + (n * 31) % 1000,
       CASE n % 6 WHEN 0 THEN 'Alpine Tools AG' WHEN 1 THEN 'Berg, Tal & Co.'
                  WHEN 2 THEN 'The "Quick" Shop' WHEN 3 THEN 'Müller Söhne'
                  WHEN 4 THEN 'O''Brien Imports' ELSE 'Lakeside Hotels' END,
       CASE WHEN n % 29 = 0 THEN NULL ELSE ((n * 7331) % 500000) / 100.0 END,
       1 + n % 250,
       CASE WHEN n % 3 = 0 THEN NULL ELSE (n % 20) / 100.0 END,
       datetime('2022-01-01 00:00:00', '+' || ((n * 104729) % 94608000) || ' seconds'),
       CASE WHEN n % 7 = 0 THEN NULL ELSE date('2022-01-03', '+' || (n % 1095) || ' days') END,
       CASE n % 4 WHEN 0 THEN 'open' WHEN 1 THEN 'shipped' WHEN 2 THEN 'invoiced'
                  ELSE 'cancelled' END
FROM seq;

COMMIT;
