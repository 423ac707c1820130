-- The technicians' role for the calibration history on PostgreSQL: it may read and insert records
-- and nothing else. Run once after postgresql-schema.sql, as the owner of its tables:
--     psql -d kestrovar -f postgresql-technicians.sql
-- then give each technician a login of their own in the role, so every row names its user:
--     CREATE ROLE alice LOGIN PASSWORD '...' IN ROLE kestrovar_technicians;

CREATE ROLE kestrovar_technicians NOLOGIN;
GRANT USAGE ON SCHEMA public TO kestrovar_technicians;
GRANT SELECT ON history_meta TO kestrovar_technicians;
GRANT SELECT, INSERT ON calibration_records TO kestrovar_technicians;
GRANT SELECT ON history_head TO kestrovar_technicians;
